#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/settings_user_defaults.h"
#include "core/vpn_protocols.h"
#include "support/fake_settings_store.h"

namespace hw {
namespace {

using S = SettingsUserDefaults;

TEST(SettingsUserDefaults, FreshStoreReadsRegisteredDefaultsAndNothingForUnregisteredKeys) {
    test::FakeSettingsStore store;
    store.registerDefaults(S::defaults());
    EXPECT_TRUE(store.boolForKey(S::showWelcomePage));
    EXPECT_EQ(store.stringForKey(S::vpnProtocolsKey), " Automatic");
    EXPECT_EQ(store.stringForKey(S::lastLocation), "");
    EXPECT_EQ(store.stringListForKey(S::trustedNetworks), StringList{});
    for (const char* key : {S::vpnConfigUpdatedAt, S::explicitAutomaticItemLocationID, S::appLaunchParameters,
                            S::smartWidgetData}) {
        EXPECT_FALSE(store.object(key).has_value()) << key;
    }
}

TEST(VPNProtocols, RawValuesAreExactWithTheirBlanks) {
    const std::vector<std::pair<VPNProtocols, std::string>> expected = {
        {VPNProtocols::Automatic, " Automatic"}, {VPNProtocols::OpenVPN, " OpenVPN"},
        {VPNProtocols::L2TP, " L2TP over IPSec"}, {VPNProtocols::PPTP, " PPTP"},
        {VPNProtocols::IKEv2, " IKEv2"}, {VPNProtocols::IKEv2_StrongSwan, " IKEv2 "},
    };
    std::set<std::string> seen;
    for (const auto& [protocol, text] : expected) {
        EXPECT_EQ(rawValue(protocol), text);
        EXPECT_EQ(vpnProtocolFromRawValue(text), protocol) << '[' << text << ']';
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 6u);
}

TEST(VPNProtocols, ConstructionNeitherTrimsNorFoldsCase) {
    for (const char* text : {"IKEv2", " ikev2", "IKEv2 ", " IKEv2  ", "Automatic", " automatic", "", " L2TP"}) {
        EXPECT_FALSE(vpnProtocolFromRawValue(text).has_value()) << '[' << text << ']';
    }
    EXPECT_NE(vpnProtocolFromRawValue(" IKEv2"), vpnProtocolFromRawValue(" IKEv2 "));
}

}  // namespace
}  // namespace hw
