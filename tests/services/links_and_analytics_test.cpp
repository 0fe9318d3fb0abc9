#include "platform/base64.h"
#include "services/analytics_service.h"
#include "services/auth_service.h"
#include "services/links_manager.h"
#include "support/model_fixture.h"

namespace hw {
namespace {

class LinksManagerTest : public test::ModelFixture {
protected:
    LinksManagerTest() {
        ApplicationModelPorts ports = model->ports();
        ports.loginData = &auth;
        model->setPorts(ports);
        model->mainDomainName = "www.example.test";
    }
    AuthService auth{*parse, keychain, *model, "svc"};
    LinksManager links{*model};
};

std::string b64(const std::string& s) { return b64::encode(Bytes(s.begin(), s.end())); }

// The login window's link test covers the fixed links; here, every placeholder is filled.
TEST_F(LinksManagerTest, EveryDomainPlaceholderIsFilled) {
    links.createNewAccountLink_Raw = "https://{$domainname}/join?x={$domainname}";
    EXPECT_EQ(links.createNewAccountLink(), std::optional<std::string>("https://www.example.test/join?x=www.example.test"));
    EXPECT_FALSE(links.knowledgeBaseURL()) << "none until the configuration names it";
}

TEST_F(LinksManagerTest, SupportTicketCarriesTheDoubleBase64AccountToken) {
    links.linksDataObject = LinksDataObject{"https://{$domainname}/ticket?{$token}&again={token}",
                                            "https://speed.test/{$domainname}", "", "", ""};
    EXPECT_FALSE(links.supportTicketURL()) << "no token while nobody is signed in";
    auth.setRecentLoginData(LoginData{"me@x.io", "pa;ss", std::nullopt});
    const auto token = "token=" + b64(b64("me@x.io") + ";" + b64("pa;ss"));
    EXPECT_EQ(links.supportTicketURL(),
              std::optional<std::string>("https://www.example.test/ticket?" + token + "&again=" + token));
    EXPECT_EQ(links.speedTestURL(), std::optional<std::string>("https://speed.test/{$domainname}"))
        << "the speed-test link is used unchanged";
    EXPECT_FALSE(log->contains(b64("pa;ss")));
}

TEST_F(LinksManagerTest, OnlyWebLinksAreHandedOut) {
    links.linksDataObject = LinksDataObject{"file:///etc/passwd", "javascript:alert(1)", "https://{$domainname}/me",
                                            "", "smb://share"};
    EXPECT_FALSE(links.supportTicketURL());
    EXPECT_FALSE(links.speedTestURL());
    EXPECT_TRUE(links.myAccountLink());
    EXPECT_FALSE(links.inviteFriendsLink()) << "an empty link";
    links.termsOfServiceRawLink = "data:text/html,hi";
    EXPECT_FALSE(links.termsOfServiceLink());
    model->mainDomainName = "evil.test/ path";
    EXPECT_FALSE(links.forgotPasswordLink()) << "a domain with blanks makes no link";
}

class AnalyticsServiceTest : public test::ModelFixture {
protected:
    AnalyticsService analytics{*model, backend};
};

TEST_F(AnalyticsServiceTest, SendsOnlyWhileAllowed) {
    analytics.trackerURL = "https://tracker.test/api/app-analytics.php";
    std::vector<HttpRequest> sent;
    backend.web = [&](const HttpRequest& r) {
        sent.push_back(r);
        return test::FakeHttpClient::ok(R"({"result":"success"})");
    };
    model->setSendAnalyticsData(false);
    analytics.sendEvent("ae_vpn_connected");
    queue.runUntilIdle();
    EXPECT_TRUE(sent.empty());

    model->setSendAnalyticsData(true);
    analytics.sendEvent("ae_current_vpn_location_changed", AnalyticsService::Parameters{{"ap_location_id", "Japan"}});
    queue.runUntilIdle();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(JSON::parse(sent[0].body)["parameters"]["ap_location_id"].stringValue(), "Japan");
}

}  // namespace
}  // namespace hw
