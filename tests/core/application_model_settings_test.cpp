#include <gmock/gmock.h>

#include "application_model_fixture.h"

namespace hw::test {
namespace {

using ::testing::ElementsAre;
using Keys = SettingsUserDefaults;

class ApplicationModelSettingsTest : public ApplicationModelTest {
protected:
    ApplicationModelSettingsTest() {
        model->addVPNProtocolUpdatedObserver([this](const std::string& text) { journal.calls.push_back("observer" + text); });
    }
    void applyProtocol(const std::string& text) { model->applySettings({{Keys::vpnProtocols, text}}); }
};

TEST_F(ApplicationModelSettingsTest, FirstLaunchAppliesTheRegisteredDefaults) {
    std::vector<bool> startAtLogin;
    model->startOnOsStartupNotification = [&](bool v) { startAtLogin.push_back(v); };
    model->skipVPNConnectorsNotification = true;
    model->restoreRequiredData();
    model->applySettings(store.snapshot());
    model->applyPrivateSettings(store.snapshot());

    EXPECT_TRUE(model->signMeInWhenHavenwayStarts);
    EXPECT_THAT(startAtLogin, ElementsAre(true));
    EXPECT_TRUE(journal.calls.empty());  // the protocol did not change
    // The trusted networks were archived, so the next start restores them.
    model->trustedNetworks = {{"cafe", "aa:bb"}};
    model->restoreRequiredData();
    EXPECT_TRUE(model->trustedNetworks.empty());
}

TEST_F(ApplicationModelSettingsTest, ProtocolTextsMapToTheirValuesAndPptpBecomesAutomatic) {
    for (const auto& [text, value] : std::vector<std::pair<std::string, VPNTypes>>{
             {" OpenVPN", VPNTypesOpenVPN}, {" L2TP over IPSec", VPNTypesL2TP}, {" IKEv2", VPNTypesIKEv2},
             {" IKEv2 ", VPNTypesIKEv2_StrongSwan}, {" Automatic", VPNTypesAutomatic}}) {
        applyProtocol(text);
        EXPECT_EQ(model->vpnProtocol, value) << text;
        EXPECT_EQ(model->vpnProtocolReadable, text);
    }
    journal.calls.clear();
    applyProtocol(" PPTP");
    EXPECT_TRUE(journal.calls.empty());  // already automatic: nothing to tell
    applyProtocol(" OpenVPN");
    journal.calls.clear();
    applyProtocol("openvpn");
    EXPECT_EQ(model->vpnProtocol, VPNTypesAutomatic);
    EXPECT_THAT(journal.calls, ElementsAre("removeExistingConnection", "observer Automatic"));
    EXPECT_EQ(ApplicationModel::getReadableVPNProtocol(6), "");
}

TEST_F(ApplicationModelSettingsTest, ProtocolChangeResetsTheEngineThenTellsObserversInOrder) {
    model->addVPNProtocolUpdatedObserver([this](const std::string&) { journal.calls.push_back("second observer"); });
    manager.discovery = true;
    applyProtocol(" IKEv2 ");
    EXPECT_THAT(journal.calls, ElementsAre("removeExistingConnection", "observer IKEv2 ", "second observer"));
    journal.calls.clear();
    applyProtocol(" IKEv2 ");  // same protocol: no reset, no observers
    EXPECT_TRUE(journal.calls.empty());
    manager.discovery = true;
    applyProtocol(" Automatic");  // back to automatic leaves the discovery flag alone
    EXPECT_TRUE(manager.discovery);
    journal.calls.clear();
    model->skipVPNConnectorsNotification = true;
    applyProtocol(" L2TP over IPSec");
    EXPECT_THAT(journal.calls, ElementsAre("observer L2TP over IPSec", "second observer"));
}

TEST_F(ApplicationModelSettingsTest, MissingOrMistypedValuesLeaveTheirSettingsAlone) {
    model->applySettings({{Keys::vpnProtocols, 1}, {Keys::startMinimized, "true"}, {Keys::wi_fi_SecurityEnabled, 0}});
    EXPECT_EQ(model->vpnProtocol, VPNTypesAutomatic);
    EXPECT_FALSE(model->startMinimized);
    EXPECT_TRUE(model->wi_fi_SecurityEnabled);
    model->applyPrivateSettings({{Keys::vpnConfigUpdatedAt, "2026-01-01"}, {Keys::lastLocation, false}});
    EXPECT_EQ(model->vpnConfigUpdatedAt, std::nullopt);
    EXPECT_EQ(model->pendingLocationIDToSet, std::nullopt);
    model->applyPrivateSettings({{Keys::vpnConfigUpdatedAt, Date{1234.5}}, {Keys::lastLocation, "loc-fr"}});
    EXPECT_EQ(model->vpnConfigUpdatedAt, Date{1234.5});
    EXPECT_EQ(model->pendingLocationIDToSet, "loc-fr");
}

TEST_F(ApplicationModelSettingsTest, WiFiSecurityAndNetworkLockSwitches) {
    model->unsecured_Wi_Fi_VPN_activated = true;
    model->applySettings({{Keys::wi_fi_SecurityEnabled, true}});
    EXPECT_TRUE(model->unsecured_Wi_Fi_VPN_activated);
    model->applySettings({{Keys::wi_fi_SecurityEnabled, false}});
    EXPECT_FALSE(model->unsecured_Wi_Fi_VPN_activated);

    model->applySettings({{Keys::useNetworkLock, false}});  // the store says off too
    EXPECT_TRUE(journal.calls.empty());
    model->setUseNetworkLock(true);
    model->networkLockActivated = true;
    model->applySettings({{Keys::useNetworkLock, false}});
    // No tunnel runs: the lock the user turned off is lifted at once.
    EXPECT_THAT(journal.calls,
                ElementsAre("stopReachability", "reach " + model->reachabilityDomainName, "disableNetworkLock"));
    EXPECT_FALSE(model->networkLockActivated);
    EXPECT_TRUE(model->useNetworkLock());  // the step writes nothing
}

TEST_F(ApplicationModelSettingsTest, TurningTheLockOffKeepsItWhileATunnelRunsAndLiftsItOtherwise) {
    struct Row {
        ConnectionStates state;
        bool lifted;
    };
    for (const Row& row : {Row{ConnectionStates::connected, false}, Row{ConnectionStates::connecting, true},
                           Row{ConnectionStates::disconnected, true}}) {
        journal.calls.clear();
        // As the settings window applies: the store already says off.
        model->setUseNetworkLock(false);
        model->networkLockActivated = true;
        model->setCurrentConnectionState(row.state);
        model->applySettings({{Keys::useNetworkLock, false}});
        const bool sent = std::find(journal.calls.begin(), journal.calls.end(), "disableNetworkLock") != journal.calls.end();
        EXPECT_EQ(sent, row.lifted) << static_cast<int>(row.state);
        EXPECT_EQ(model->networkLockActivated, !row.lifted) << static_cast<int>(row.state);
    }
}

TEST_F(ApplicationModelSettingsTest, TrustedNetworksSurviveARestartWhateverTheirOctets) {
    model->trustedNetworks = {{"Home", "aa:bb:cc:dd:ee:ff"}, {std::string("caf\xe9\0x", 6), "11:22"}, {"", ""}};
    model->saveTrustedNetworks();
    ApplicationModel restarted({store, queue, background, codec, http, system});
    restarted.restoreRequiredData();
    EXPECT_EQ(restarted.trustedNetworks, model->trustedNetworks);
}

TEST_F(ApplicationModelSettingsTest, DamagedTrustedNetworksArchiveKeepsTheListInMemory) {
    const std::vector<TrustedNetworkItem> kept = {{"Office", "01:02:03:04:05:06"}};
    for (const char* text : {"not json", R"({"SSID":"a","BSSID":"b"})", R"([{"SSID":"a","BSSID":"b"}, 3])",
                             R"([{"SSID":7,"BSSID":"b"}])", R"([{"SSID":"a"}])", R"([{"SSIDHex":"zz","BSSID":"b"}])",
                             R"([{"SSID":"a","SSIDHex":"61","BSSID":"b"}])"}) {
        model->trustedNetworks = kept;
        store.set(Keys::trustedNetworks, FakeImageCodec::bytes(text));
        model->restoreTrustedNetworks();
        EXPECT_EQ(model->trustedNetworks, kept) << text;
    }
}

}  // namespace
}  // namespace hw::test
