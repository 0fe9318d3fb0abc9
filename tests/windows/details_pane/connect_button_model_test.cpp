// The connect button's faces and its hover machine, in virtual time.
#include <gtest/gtest.h>

#include "support/kit_controller_fixture.h"
#include "windows/details_pane/connect_button_model.h"

namespace hw::test {
namespace {

struct ConnectButtonModelTest : KitControllerFixture, ::testing::Test {
    ConnectButtonModelTest() {
        ConnectButtonCallbacks::onMouseEnteredCallback = [this] { calls.push_back("entered"); };
        ConnectButtonCallbacks::onMouseExitedCallback = [this] { calls.push_back("exited"); };
        ConnectButtonCallbacks::onMouseHoverDelayedCallback = [this] { calls.push_back("hover"); };
    }
    ~ConnectButtonModelTest() override {
        ConnectButtonCallbacks::onMouseEnteredCallback = nullptr;
        ConnectButtonCallbacks::onMouseExitedCallback = nullptr;
        ConnectButtonCallbacks::onMouseHoverDelayedCallback = nullptr;
    }
    std::vector<std::string> calls;
    ConnectButtonModel button{queue, model};
};

TEST_F(ConnectButtonModelTest, FacesLabelsAndTitleOffsets) {
    struct Row {
        std::function<void(ConnectButtonModel&)> set;
        ConnectButtonStates state;
        std::string label, image;
        double offset;
    };
    const Row rows[] = {
        {[](auto& b) { b.setToConnectingState(); }, ConnectButtonStates::connecting, "CONNECTING      ",
         "Connecting_button", 24.0},
        {[](auto& b) { b.setToDisconnectState(); }, ConnectButtonStates::disconnect, "DISCONNECT", "Disconnect_button",
         24.0},
        {[](auto& b) { b.toggleButtonState(); }, ConnectButtonStates::connect, "CONNECT", "Connect_button", 26.0},
        {[](auto& b) { b.toggleButtonState(); }, ConnectButtonStates::connecting, "CONNECTING      ",
         "Connecting_button", 24.0},
        {[](auto& b) { b.toggleButtonState(); }, ConnectButtonStates::connect, "CONNECT", "Connect_button", 26.0},
    };
    for (const auto& row : rows) {
        row.set(button);
        EXPECT_EQ(button.currentState(), row.state);
        EXPECT_EQ(button.getCurrentButtonLabel(), row.label);
        EXPECT_EQ(button.backgroundImageName(), row.image);
        EXPECT_EQ(button.cell().buttonLabelOffsetX, row.offset);
    }
    model.setAutoReconnectInProgress(true);
    button.setToConnectingState();
    EXPECT_EQ(button.getCurrentButtonLabel(), "RECONNECTING");
    model.setAutoReconnectInProgress(false);
    model.setOpenVPN_Reconnect_in_progress(true);
    button.setToConnectingState();
    EXPECT_EQ(button.getCurrentButtonLabel(), "RECONNECTING");
}

TEST_F(ConnectButtonModelTest, DroppingTheHoverCancelsARestUnderWay) {
    button.mouseEntered({150, 20});
    queue.advance(900);
    button.mouseExitedProcessing();
    EXPECT_FALSE(button.hoverTimerRunning());
    queue.advance(2000);
    EXPECT_EQ(calls, (std::vector<std::string>{"entered", "exited"})) << "no hint after the drop";
    // The next report starts a fresh rest rather than comparing with a stale point.
    button.mouseMoved({151, 20});
    queue.advance(1000);
    EXPECT_EQ(calls.back(), "hover");
}

TEST_F(ConnectButtonModelTest, HoverBandInTheButtonsOwnCoordinates) {
    const double w = ConnectButtonModel::BUTTON_WIDTH;
    EXPECT_FALSE(ConnectButtonModel::inHoverBand({128.9, 20}, w));
    EXPECT_TRUE(ConnectButtonModel::inHoverBand({129, 20}, w));
    EXPECT_TRUE(ConnectButtonModel::inHoverBand({w - 37.1, 20}, w));
    EXPECT_FALSE(ConnectButtonModel::inHoverBand({w - 37, 20}, w));
}

TEST_F(ConnectButtonModelTest, ARestOfOneSecondFiresOnceAndAMoveReportsAnExitFirst) {
    button.mouseEntered({140, 20});
    queue.advance(999);
    EXPECT_EQ(calls, std::vector<std::string>{"entered"});
    button.mouseMoved({140.6, 20.2});  // the same whole point: the rest goes on
    queue.advance(1);
    EXPECT_EQ(calls, (std::vector<std::string>{"entered", "hover"}));
    queue.advance(5000);
    EXPECT_EQ(calls.size(), 2u);

    // A move after the popover starts a new rest; a move to another point first reports an exit.
    button.mouseMoved({150, 20});
    queue.advance(600);
    button.mouseMoved({151, 20});
    EXPECT_EQ(calls.back(), "exited");
    queue.advance(999);
    EXPECT_EQ(calls.back(), "exited");
    queue.advance(1);
    EXPECT_EQ(calls.back(), "hover");

    button.mouseMoved({152, 20});
    button.mouseExited();
    EXPECT_FALSE(button.hoverTimerRunning());
    queue.advance(2000);
    EXPECT_EQ(calls.back(), "exited");
}

TEST_F(ConnectButtonModelTest, OtherFacesIgnoreThePointerButLeavingStillStopsTheTimer) {
    button.mouseEntered({140, 20});
    button.setToConnectingState();
    button.mouseMoved({150, 20});
    button.mouseExited();
    button.mouseEntered({140, 20});
    EXPECT_FALSE(button.hoverTimerRunning());
    queue.advance(2000);
    EXPECT_EQ(calls, std::vector<std::string>{"entered"});
}

}  // namespace
}  // namespace hw::test
