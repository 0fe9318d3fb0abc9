#include <gtest/gtest.h>

#include <thread>

#include "connection/vpn_connection_manager_provider_adapters.h"
#include "connection/vpn_connection_manager_report_uploader.h"

namespace hw::test {
namespace {

// A system service provider that keeps reporting after it was told to stop,
// as a connector thread that is mid-report would.
class StubbornProvider final : public AbstractVPNConnectionProvider {
public:
    StubbornProvider() { setType(VPNTypesL2TP); }
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string&, VPNStatusCallback onStatus,
                                                               bool) override {
        callback = std::move(onStatus);
        return 0;
    }
    void stopConnectionStatusUpdates() override { ++stops; }
    VPNStatusCallback callback;
    int stops = 0;
};

TEST(ProviderAdapters, ReportsEndWhenTheManagerStopsThemEvenFromInsideAReport) {
    auto provider = std::make_shared<StubbornProvider>();
    ProviderAdapter adapter(provider);
    EXPECT_EQ(adapter.type(), VPNTypesL2TP);
    std::vector<std::int32_t> seen;
    adapter.retrieveConnectionAndSubscribeToStatusUpdates(
        "Havenway",
        [&](std::int32_t s, const std::optional<std::string>&, VPNTypes) {
            seen.push_back(s);
            if (s == 0) adapter.stopConnectionStatusUpdates();
        },
        true);
    auto stale = provider->callback;
    stale(1, std::nullopt, VPNTypesL2TP);
    stale(0, std::string("13"), VPNTypesL2TP);
    stale(2, std::nullopt, VPNTypesL2TP);
    EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 0}));
    EXPECT_EQ(provider->stops, 1);
}

TEST(ProviderAdapters, ANewSubscriptionSilencesTheOldOneAcrossThreads) {
    auto provider = std::make_shared<StubbornProvider>();
    ProviderAdapter adapter(provider);
    std::atomic<int> first{0}, second{0};
    adapter.retrieveConnectionAndSubscribeToStatusUpdates(
        "x", [&](std::int32_t, const std::optional<std::string>&, VPNTypes) { ++first; }, true);
    auto old = provider->callback;
    adapter.retrieveConnectionAndSubscribeToStatusUpdates(
        "x", [&](std::int32_t, const std::optional<std::string>&, VPNTypes) { ++second; }, true);
    std::thread t([&] {
        for (int i = 0; i < 100; ++i) {
            old(1, std::nullopt, VPNTypesL2TP);
            provider->callback(1, std::nullopt, VPNTypesL2TP);
        }
    });
    t.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 100);
}

TEST(ErrorLogReportObject, CarriesUserPlatformMessageAndLog) {
    auto file =
        std::make_shared<ParseFile>(std::weak_ptr<ParseCore>{}, "error.log", "", Bytes{'a', '\n'}, "text/plain");
    ParseUser user;
    user.objectId = "u1";
    ParseObject report = ParseErrorLogReportUploader::makeReport(user, "Debian GNU/Linux 12", "Auth failed", file);
    EXPECT_EQ(report.className(), "ErrorLogReport");
    EXPECT_EQ(report.pointerId("user"), "u1");
    EXPECT_EQ(report.get("platform").string(), "Debian GNU/Linux 12");
    EXPECT_EQ(report.get("errorMessage").string(), "Auth failed");
    EXPECT_EQ(report.file("log"), file);
    ParseObject anonymous = ParseErrorLogReportUploader::makeReport(std::nullopt, "Linux", "x", file);
    EXPECT_FALSE(anonymous.has("user"));
}

}  // namespace
}  // namespace hw::test
