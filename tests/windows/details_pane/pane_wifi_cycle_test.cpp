// The Wi-Fi security cycle through the real main window and the real pane.
#include <gtest/gtest.h>

#include "windows/details_pane/pane_fixture.h"

namespace hw::test {
namespace {

struct PaneWiFiCycle : PaneFixture, ::testing::Test {
    PaneWiFiCycle() {
        pane.reset();  // the window makes its own
        links.probeURLString = "https://probe.example/ping";
        MainWindowEnvironment env{context, window, window, queue, queue, shell, notifications, links, probe,
                                  [this] { return wifiInfo; }, engine, images, nullptr,
                                  [this] {
                                      auto made = makePane();
                                      pane = made;
                                      return std::shared_ptr<DetailsPane>(made);
                                  }};
        controller = std::make_shared<MainWindowViewController>(env);
        controller->showWindow();
        controller->setupMainView(std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{nl}), {});
        queue.runUntilIdle();
        model.wi_fi_SecurityEnabled = true;
    }

    RecordingMainWindowView window;
    FakeUserNotificationCenter notifications;
    std::shared_ptr<ProbeURLReachabilityHelper> probe = std::make_shared<ProbeURLReachabilityHelper>(http, queue);
    RemoteImageLoader images{queue, queue, codec};
    std::shared_ptr<MainWindowViewController> controller;
};

TEST_F(PaneWiFiCycle, InsecureNetworkConnectsAndASecureOneTearsItDown) {
    ASSERT_TRUE(pane);
    ASSERT_EQ(pane->dataObject(), nl);
    controller->showWiFiInsecureNotification();
    ASSERT_EQ(http.requests.size(), 1u);  // the probe
    controller->onProbeURL_Succeded();
    queue.advance(1);
    EXPECT_TRUE(model.unsecured_Wi_Fi_VPN_activated);
    ASSERT_EQ(engine.connects.size(), 1u);
    engine.closures.established();
    queue.runUntilIdle();
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::disconnect);
    EXPECT_EQ(model.currentConnectionState(), ConnectionStates::connected);

    // A secure network: the Wi-Fi security connection goes, and nothing reconnects it.
    wifiInfo->setNetworkWiFi_SSID_hasChanged(true);
    controller->showConnectedToWiFiNotification();
    queue.runUntilIdle();
    engine.closures.disconnected(false, false);  // the manager's own report of it
    queue.advance(5000);
    EXPECT_FALSE(model.unsecured_Wi_Fi_VPN_activated);
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connect);
    EXPECT_EQ(model.currentConnectionState(), ConnectionStates::disconnected);
    EXPECT_FALSE(model.autoReconnectInProgress());
    EXPECT_EQ(engine.connects.size(), 1u);
}

}  // namespace
}  // namespace hw::test
