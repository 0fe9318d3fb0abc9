// The real pane widget, engine and helper connect the demo account to a
// seeded location over the testbed's OpenVPN server, from the client namespace.
// The engine's headers come before Qt's, whose emit keyword they use as a name.
#include "support/testbed_engine.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include <filesystem>
#include <fstream>

#include "support/widget_test_app.h"
#include "windows/details_pane/main_view_details_area_controller.h"
#include "windows/details_pane/widgets/connect_button.h"
#include "windows/details_pane/widgets/main_view_details_view.h"
#include "windows/main/main_window_fixture.h"

namespace hw::test {
namespace {

// The client's own openvpn: the one in this process's network namespace.
pid_t clientOpenVPN() {
    const auto ours = std::filesystem::read_symlink("/proc/self/ns/net");
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "comm");
        std::string comm;
        std::getline(in, comm);
        std::error_code ec;
        if (comm == "openvpn" && std::filesystem::read_symlink(entry.path() / "ns" / "net", ec) == ours)
            return static_cast<pid_t>(std::stoi(name));
    }
    return -1;
}

class PaneEndToEnd : public TestbedEngineSuite {
protected:

    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        widgetTestApp();  // before the engine's own application object
        const std::string error = bed().start();
        ASSERT_TRUE(error.empty()) << error << "\n" << bed().helperLog();
        auto& model = bed().model();
        model.isLoggedInUser = true;
        bed().chooseProtocol(VPNTypesOpenVPN);
        model.setUseAutomaticLocation(false);
        images = std::make_unique<RemoteImageLoader>(*bed().queue_, *bed().background_, codec);
        view = std::make_unique<MainViewDetailsView>(*images);
        view->resize(520, 512);
        view->show();
        engine = std::make_unique<VPNConnectionManagerPaneEngine>(*bed().manager);
        MainViewDetailsEnvironment env{BaseControllerContext{model, nullptr, urlOpener}, *view, *bed().queue_, *engine,
                                       shell};
        env.links = bed().hub->linksManager().get();
        env.wifiInfo = [this] { return bed().hub->wi_fi_InfoHelper(); };
        env.reachability = [this] { return bed().hub->internetReachabilityHelper(); };
        env.refreshUserIPAddress = [this](std::function<void()> done) { bed().hub->refreshUserIPAddress(std::move(done)); };
        pane = std::make_shared<MainViewDetailsAreaController>(std::move(env));
        pane->prepareConnectionStatusNotifications();
        ASSERT_TRUE(bed().location("NL"));
        for (const auto& item : model.locationsListModel()->items()) {
            if (item->vpnConfig && item->vpnConfig->countryCode == "NL") pane->changeDetailsView(item);
        }
        ASSERT_TRUE(pane->dataObject());
    }
    void TearDown() override {
        if (!skip_.empty()) return;
        pane.reset();
        view.reset();
        bed().stop();
    }

    bool connectedLook(int boundMs = 45000) {
        return spinUntil([&] { return pane->connectButtonState() == ConnectButtonStates::disconnect; }, boundMs);
    }
    bool timerRuns() {
        return spinUntil([&] { return view->connectionTimeText() != "00:00:00" && !view->connectionTimeText().isEmpty(); },
                         5000);
    }
    bool readyLook() {
        return spinUntil(
            [&] {
                return pane->connectButtonState() == ConnectButtonStates::connect &&
                       bed().model().currentConnectionState() == ConnectionStates::disconnected &&
                       view->connectionTimeText() == "00:00:00";
            },
            20000);
    }
    void clickAfterTheGate() {
        spinUntil([&] { return pane->isConnectedButtonActive(); }, 2000);
        view->connectButton()->click();
    }

    FakeImageCodec codec;
    RecordingURLOpener urlOpener;
    RecordingShellCommands shell;
    std::unique_ptr<RemoteImageLoader> images;
    std::unique_ptr<MainViewDetailsView> view;
    std::unique_ptr<VPNConnectionManagerPaneEngine> engine;
    std::shared_ptr<MainViewDetailsAreaController> pane;
};

TEST_F(PaneEndToEnd, ConnectsShowsTheTimerAndReturnsToReadyOnDisconnect) {
    for (bool killSwitch : {true, false}) {
        SCOPED_TRACE(killSwitch ? "with the kill switch" : "without the kill switch");
        // The lock's resolver (the public ones) is out of reach here: it falls
        // back to the address resolved before, as after any earlier connection.
        ASSERT_TRUE(spinUntil([&] { return bed().location("NL") != nullptr; }, 15000));
        // The gateway the application learnt before any lock, as the engine records it.
        bed().model().setPreviousDefaultGatewayValue(bed().env.get("HAVENWAY_TESTBED_CLIENT_GATEWAY"));
        bed().model().setUseNetworkLock(killSwitch);
        const long openvpnStarts = bed().tunnelCommands()["createOpenVPNConnection"];
        clickAfterTheGate();
        ASSERT_TRUE(connectedLook()) << testing::PrintToString(shell.calls) << bed().helperLog();
        ASSERT_TRUE(bed().manager->currentProvider());
        EXPECT_EQ(bed().manager->currentProvider()->type(), VPNTypesOpenVPN);
        EXPECT_EQ(bed().tunnelCommands()["createOpenVPNConnection"], openvpnStarts + 1);
        EXPECT_EQ(bed().tunnelCommands()["start_connection"], 0);
        EXPECT_EQ(view->connectToText(), "Connected to");
        EXPECT_TRUE(timerRuns()) << view->connectionTimeText().toStdString();
        clickAfterTheGate();
        ASSERT_TRUE(readyLook()) << bed().helperLog();
        EXPECT_FALSE(bed().model().autoReconnectInProgress());
        bed().manager->disableNetworkLock();
        bed().model().networkLockActivated = false;
    }
}

TEST_F(PaneEndToEnd, AKilledClientIsReconnectedByThePane) {
    view->connectButton()->click();
    ASSERT_TRUE(connectedLook()) << bed().helperLog();
    ASSERT_TRUE(bed().manager->currentProvider());
    EXPECT_EQ(bed().manager->currentProvider()->type(), VPNTypesOpenVPN);
    const pid_t client = clientOpenVPN();
    ASSERT_GT(client, 0);
    ::kill(client, SIGKILL);
    // The drop starts the loop; its attempt brings the connected look back.
    ASSERT_TRUE(spinUntil([&] { return bed().model().autoReconnectInProgress(); }, 20000)) << bed().helperLog();
    ASSERT_TRUE(spinUntil([&] { return clientOpenVPN() > 0 && clientOpenVPN() != client; }, 30000));
    ASSERT_TRUE(spinUntil([&] { return !bed().model().autoReconnectInProgress(); }, 45000)) << bed().helperLog();
    EXPECT_TRUE(connectedLook(1000));
    EXPECT_EQ(bed().model().autoReconnectAttemptsCount(), 0);
    clickAfterTheGate();
    EXPECT_TRUE(readyLook());
}

}  // namespace
}  // namespace hw::test
