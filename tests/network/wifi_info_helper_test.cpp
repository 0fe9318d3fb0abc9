#include "network/wifi_info_helper.h"

#include <gtest/gtest.h>

#include "platform/wifi_security.h"
#include "support/capture_log.h"
#include "support/fake_wifi.h"

namespace hw {
namespace {

using namespace nm_ap;

TEST(WiFiSecurity, AccessPointFlagsGiveTheProtection) {
    EXPECT_EQ(securityFromAccessPointFlags(0, 0, 0), WiFiSecurity::None);
    EXPECT_EQ(securityFromAccessPointFlags(kPrivacy, 0, 0), WiFiSecurity::WEP);
    EXPECT_EQ(securityFromAccessPointFlags(kPrivacy, 0, kKeyMgmtPsk | 0x88), WiFiSecurity::Personal);
    EXPECT_EQ(securityFromAccessPointFlags(kPrivacy, kKeyMgmt8021x, kKeyMgmt8021x), WiFiSecurity::Enterprise);
    EXPECT_EQ(securityFromAccessPointFlags(kPrivacy, 0, kKeyMgmtOwe), WiFiSecurity::EnhancedOpen);
    EXPECT_EQ(securityFromAccessPointFlags(0, 0, kKeyMgmtOweTransition), WiFiSecurity::None)
        << "the open half of a transition pair carries plain traffic";
    EXPECT_EQ(securityFromAccessPointFlags(kPrivacy, 0, 0x88), WiFiSecurity::Unknown);
    EXPECT_TRUE(isInsecure(WiFiSecurity::WEP));
    EXPECT_FALSE(isInsecure(WiFiSecurity::Unknown));

    EXPECT_EQ(normalizedBSSID("aa:bb:cc:0d:ee:ff"), "AA:BB:CC:0D:EE:FF");
    EXPECT_EQ(normalizedBSSID("not a bssid"), "not a bssid");
    EXPECT_EQ(normalizedBSSID("aa-bb-cc-dd-ee-ff"), "aa-bb-cc-dd-ee-ff");
}

TEST(WiFiInfoHelper, ScanListsAndLogsEveryNetworkWithoutControlCharacters) {
    auto log = test::CaptureLog::install();
    test::FakeWiFi wifi;
    wifi.setScan({{"Cafe", "AA:BB:CC:00:00:01"}, {std::nullopt, "AA:BB:CC:00:00:02"}, {"Evil\nFAKE LINE", std::nullopt}});
    WiFi_InfoHelperObjC info(wifi);
    auto found = info.scanForAvailableNetworks().networks;
    ASSERT_EQ(found.size(), 3u);
    EXPECT_FALSE(found[1].ssid);
    EXPECT_EQ(*found[2].ssid, "Evil\nFAKE LINE") << "the caller gets the SSID as it is";
    EXPECT_FALSE(log->contains("timed out"));
    EXPECT_TRUE(log->contains("SSID: Cafe, BSSID: AA:BB:CC:00:00:01."));
    EXPECT_TRUE(log->contains("SSID: Evil?FAKE LINE, BSSID: (none)."));
    EXPECT_FALSE(log->contains("\n"));
    log::setSink(nullptr);
}

TEST(WiFiInfoHelper, APrintableSSIDIsUTF8WithoutControlCharacters) {
    struct Row {
        const char* name;
        std::string ssid, printed;
    };
    const std::vector<Row> rows{
        {"UTF-8 kept", "Caf\xc3\xa9 \xe2\x98\x95 \xf0\x9f\x93\xb6", "Caf\xc3\xa9 \xe2\x98\x95 \xf0\x9f\x93\xb6"},
        {"an escape", "red\x1b[31m", "red?[31m"},
        {"Latin-1", "caf\xe9", "caf?"},
        {"a cut sequence", "ab\xe2\x98", "ab??"},
        {"an overlong slash", "\xc0\xaf", "??"},
        {"a surrogate", "\xed\xa0\x80", "???"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "????"},
        {"a right-to-left override", "abc\xe2\x80\xaegnp.exe", "abc?gnp.exe"},
        {"a right-to-left mark", "a\xe2\x80\x8f" "b", "a?b"},
        {"an isolate and its end", "\xe2\x81\xa6x\xe2\x81\xa9", "?x?"},
        {"the Arabic letter mark", "\xd8\x9cx", "?x"},
        {"Arabic letters kept", "\xd8\xa8\xd8\xaa", "\xd8\xa8\xd8\xaa"},
    };
    for (const Row& row : rows) EXPECT_EQ(printableSSID(row.ssid), row.printed) << row.name;
}

TEST(WiFiInfoHelper, AScanCutShortByNetworkManagerIsLogged) {
    auto log = test::CaptureLog::install();
    test::FakeWiFi wifi;
    wifi.setScan({{"Cafe", "AA:BB:CC:00:00:01"}}, true);
    WiFi_InfoHelperObjC info(wifi);
    EXPECT_TRUE(info.scanForAvailableNetworks().timedOut);
    EXPECT_TRUE(log->contains("scan timed out: NetworkManager did not answer; 1 networks listed"));
    log::setSink(nullptr);
}

}  // namespace
}  // namespace hw
