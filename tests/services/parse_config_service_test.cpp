#include "services/parse_config_service.h"

#include "core/global_constants.h"
#include "support/model_fixture.h"

namespace hw {
namespace {

class ParseConfigServiceTest : public test::ModelFixture {
protected:
    ParseConfigServiceTest() {
        backend.configParams = JSON::dictionaryLiteral({
            {"publicIPInfoUrl", "https://web.test/api/ipinfo"},
            {"vpnConfigUpdatedAt", JSON::dictionaryLiteral({{"__type", "Date"}, {"iso", "2026-05-01T10:00:00.000Z"}})},
            {"mainDomainName", "www.example.test"},
            {"domainForCountriesList", R"({"list":[{"countries":["CN","IR"],"domain":"mirror.example.test"},{"countries":["XX"],"domain":"bad domain"}]})"},
            {"vpnServersDomainSuffix", "vpn.example.test"},
            {"reachabilityDomainName", "backend.example.test"},
            {"DNSResolver", "9.9.9.9"},
            {"DNSResolverSecondary", "not-an-address"},
            {"analyticsTrackerURL", "javascript:alert(1)"},
        });
    }
    LinksManager links{*model};
    SmartWigdetHelper widget{backend};
    AnalyticsService analytics{*model, backend};
    ParseConfigService service{*model, *parse, backend, links, widget, analytics};
};

TEST_F(ParseConfigServiceTest, ConfigurationValuesThatDoNotFitAreRefused) {
    const auto previousSecondary = GlobalConstants::dnsResolverSecondary();
    const auto defaultTracker = analytics.trackerURL;
    bool completed = false;
    service.loadParseConfig([&] { completed = true; }, [](OptionalParseError) { FAIL(); });
    queue.runUntilIdle();
    ASSERT_TRUE(completed);  // the plain copies are proven by the hub's tests on the real services
    ASSERT_TRUE(model->domainForCountriesList);
    ASSERT_EQ(model->domainForCountriesList->size(), 1u) << "an entry with a broken domain is left out";
    EXPECT_EQ((*model->domainForCountriesList)[0].domain, "mirror.example.test");
    EXPECT_EQ(GlobalConstants::dnsResolver(), "9.9.9.9");
    EXPECT_EQ(GlobalConstants::dnsResolverSecondary(), previousSecondary) << "a resolver that is no address is refused";
    EXPECT_EQ(analytics.trackerURL, defaultTracker) << "a tracker that is no web address is ignored";
    GlobalConstants::setDnsResolver("8.8.4.4");
}

TEST_F(ParseConfigServiceTest, AFailedFetchGoesToTheErrorHandlerAndAnIncompleteConfigIsSeen) {
    backend.configError = test::FakeBackend::Reply::error(100, "offline");
    OptionalParseError got;
    service.loadParseConfig([] { FAIL(); }, [&](OptionalParseError e) { got = e; });
    queue.runUntilIdle();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->code, 100);

    ParseConfig partial{JSON::dictionaryLiteral({{"publicIPInfoUrl", "https://x.test"}, {"mainDomainName", 5}})};
    EXPECT_TRUE(ParseConfigService::isConfigIncomplete(partial));
    EXPECT_FALSE(ParseConfigService::isConfigIncomplete(ParseConfig{backend.configParams}));
}

TEST_F(ParseConfigServiceTest, PublicAddressLookup) {
    using S = ParseConfigService;
    auto ok = S::readPublicIPInfo(test::FakeHttpClient::ok(R"({"ip":"203.0.113.7","country_code":"NL","time_zone":"X"})"),
                                  "Europe/Berlin");
    EXPECT_EQ(ok.address + " " + ok.countryCode + " " + ok.timeZone, "203.0.113.7 NL Europe/Berlin")
        << "the device's own zone, not the reply's";
    auto noZone = S::readPublicIPInfo(test::FakeHttpClient::ok(R"({"ip":"not an ip","country_code":"N L"})"), "Z");
    EXPECT_EQ(noZone.address + noZone.countryCode + noZone.timeZone, "") << "values that do not fit are dropped";
    EXPECT_FALSE(noZone.failed);
    EXPECT_TRUE(S::readPublicIPInfo(test::FakeHttpClient::ok("[]"), "Z").failed);
    EXPECT_TRUE(S::readPublicIPInfo(test::FakeHttpClient::failed(HttpTimedOut, "t"), "Z").failed);

    backend.web = [](const HttpRequest&) { return test::FakeHttpClient::ok(R"({"ip":"198.51.100.1"})"); };
    std::optional<S::PublicAddressInfo> got;
    service.requestPublicIPInfo("https://web.test/api/ipinfo", [&](S::PublicAddressInfo i) { got = i; });
    queue.runUntilIdle();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->address, "198.51.100.1");
}

TEST_F(ParseConfigServiceTest, AutomaticLocationAnswersEvenWhenTheBackendFails) {
    JSON sent;
    backend.functions["getAutomaticLocation"] = [&](const JSON& p) {
        sent = p;
        return test::FakeBackend::Reply::ok(JSON("nl123"));
    };
    std::vector<std::optional<std::string>> answers;
    auto collect = [&](std::optional<std::string> id) { answers.push_back(id); };
    service.getAutomaticLocation("203.0.113.7", "Europe/Amsterdam", collect);
    queue.runUntilIdle();
    EXPECT_EQ(sent["userip"].stringValue(), "203.0.113.7");
    EXPECT_EQ(sent["userTimeZone"].stringValue(), "Europe/Amsterdam");

    backend.functions["getAutomaticLocation"] = [](const JSON&) { return test::FakeBackend::Reply::error(1, "boom"); };
    service.getAutomaticLocation("203.0.113.7", "Z", collect);
    backend.functions["getAutomaticLocation"] = [](const JSON&) { return test::FakeBackend::Reply::ok(JSON("../x y")); };
    service.getAutomaticLocation("203.0.113.7", "Z", collect);
    queue.runUntilIdle();
    ASSERT_EQ(answers.size(), 3u) << "every query completes";
    EXPECT_EQ(answers[0], std::optional<std::string>("nl123"));
    EXPECT_FALSE(answers[1]);
    EXPECT_FALSE(answers[2]) << "an id that is no object id is not passed on";
}

TEST_F(ParseConfigServiceTest, NotificationBars) {
    backend.functions["getNotificationsDataV2"] = [](const JSON&) {
        return test::FakeBackend::Reply::ok(JSON::dictionaryLiteral(
            {{"toptextbold", "Sale"},
             {"toplink", "https://web.test/sale"},
             {"toptext", "Sale now on"},
             {"style", "tip"},
             {"bottomtext", ""},
             {"bottomicon", JSON::dictionaryLiteral({{"__type", "File"}, {"name", "i.png"}, {"url", "http://x/i.png"}})}}));
    };
    std::optional<NotificationsData> data;
    service.requestNotificationsData([&](std::optional<NotificationsData> d, OptionalParseError) { data = d; });
    queue.runUntilIdle();
    ASSERT_TRUE(data && data->top);
    EXPECT_EQ(data->top->style, std::optional<std::string>("tip"));
    EXPECT_FALSE(data->bottom) << "no bottom bar without its line";

    backend.functions["getNotificationsDataV2"] = [](const JSON&) { return test::FakeBackend::Reply::error(141, "x"); };
    OptionalParseError error;
    service.requestNotificationsData([&](std::optional<NotificationsData> d, OptionalParseError e) {
        EXPECT_FALSE(d);
        error = e;
    });
    queue.runUntilIdle();
    EXPECT_TRUE(error) << "a failed request still completes";
}

}  // namespace
}  // namespace hw
