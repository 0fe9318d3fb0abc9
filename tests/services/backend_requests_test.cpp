// The small backend requests: exception reports and the information widget.
#include "services/app_exception_reporting_helper.h"
#include "services/form_encoding.h"
#include "services/smart_wigdet_helper.h"
#include "support/services_fixture.h"

namespace hw {
namespace {

class BackendRequestsTest : public test::ServicesFixture {};

TEST_F(BackendRequestsTest, ExceptionReportIsStoredForTheSignedInUser) {
    signIn();
    AppExceptionReportingHelper helper(*parse, "Debian 12", "1.2.3");
    std::optional<bool> stored;
    helper.sendExceptionReport(std::string(100000, 'x'), "std::bad_alloc", [&](bool ok) { stored = ok; });
    queue.runUntilIdle();
    EXPECT_EQ(stored, std::optional<bool>(true));
    auto saved = backend.saved("AppException");
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0]["user"]["objectId"].stringValue(), "user1");
    EXPECT_EQ(saved[0]["callStack"].stringValue().size(), AppExceptionReportingHelper::kMaxCallStack);
}

TEST_F(BackendRequestsTest, WidgetRequestCarriesTheSessionAndKeepsOnlyWebLinks) {
    SmartWigdetHelper helper(backend);
    std::string reason = "unset";
    helper.requestSmartWidgetData("app", "r:secret-session", [](SmartWidgetReply) { FAIL(); },
                                  [&](const std::string& r) { reason = r; });
    EXPECT_EQ(reason, "no widget address configured");

    helper.smartWidgetURL = "https://web.test/api/smart-widget";
    HttpRequest sent;
    backend.web = [&](const HttpRequest& r) {
        sent = r;
        return test::FakeHttpClient::ok(
            R"j({"title":"T","subtitle":"S","link":"javascript:alert(1)","link_text":"L","image":"https://web.test/i.png"})j");
    };
    std::optional<SmartWidgetReply> got;
    helper.requestSmartWidgetData("app", "r:secret-session", [&](SmartWidgetReply r) { got = r; },
                                  [](const std::string&) { FAIL(); });
    queue.runUntilIdle();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->link + got->image, "https://web.test/i.png") << "only http and https links are kept";
    EXPECT_EQ(*test::FakeHttpClient::ok("", 200, sent.headers).header("X-Parse-Session-Token"), "r:secret-session");
    EXPECT_FALSE(log->contains("secret-session"));

    backend.web = [](const HttpRequest&) { return test::FakeHttpClient::ok("{}", 401); };
    reason = "unset";
    helper.requestSmartWidgetData("app", "bad", [](SmartWidgetReply) { FAIL(); }, [&](const std::string& r) { reason = r; });
    queue.runUntilIdle();
    EXPECT_EQ(reason, "");
}

TEST(FormEncoding, WebURLsOnly) {
    for (const char* ok : {"https://x.test/a?b=c", "http://x.test"}) EXPECT_TRUE(isWebURL(ok)) << ok;
    for (const char* bad : {"file:///etc/passwd", "javascript:alert(1)", "https://", "https:///path",
                            "https://x.test/a b", "https://user@evil.test/"}) {
        EXPECT_FALSE(isWebURL(bad)) << bad;
    }
    EXPECT_EQ(percentEncode("a b&=/~"), "a%20b%26%3D%2F~");
}

}  // namespace
}  // namespace hw
