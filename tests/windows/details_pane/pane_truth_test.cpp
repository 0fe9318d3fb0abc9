// What the pane shows against what is true: the protocol in use, the
// connection line after a location is chosen again, the server bars and the
// links that leave the pane.
#include <gtest/gtest.h>

#include "core/settings_user_defaults.h"
#include "services/notification_bar_models.h"
#include "windows/details_pane/pane_fixture.h"

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;

struct PaneTruthTest : PaneFixture, ::testing::Test {
    void connecting(std::optional<VPNTypes> provider) {
        engine.providerType = provider;
        engine.closures.connecting();
        queue.runUntilIdle();
    }
    std::shared_ptr<TopNotificationBarModel> top() {
        return std::make_shared<TopNotificationBarModel>("Testbed notice", "https://help.havenway.test/guide",
                                                         "Testbed notice: read the guide", "tip");
    }
    std::shared_ptr<BottomNotificationBarModel> bottom() {
        return std::make_shared<BottomNotificationBarModel>("Invite friends", "https://havenway.test/invite",
                                                            "Invite friends and get a free month", nullptr);
    }
};

TEST_F(PaneTruthTest, ProtocolFieldNamesTheConnectionInUseElseTheStoredChoice) {
    struct Step {
        const char* name;
        std::function<void(PaneTruthTest&)> act;
        const char* shown;
    };
    const Step steps[] = {
        {"stored choice at start", [](PaneTruthTest& t) { t.pane->changeDetailsView(t.nl); }, "OpenVPN"},
        {"automatic chosen in the settings",
         [](PaneTruthTest& t) { t.model.applySettings({{Keys::vpnProtocols, std::string(" Automatic")}}); },
         "Automatic"},
        {"automatic order tries IKEv2", [](PaneTruthTest& t) { t.connecting(VPNTypesIKEv2_StrongSwan); }, "IKEv2"},
        {"then OpenVPN", [](PaneTruthTest& t) { t.connecting(VPNTypesOpenVPN); }, "OpenVPN"},
        {"up over OpenVPN",
         [](PaneTruthTest& t) {
             t.engine.closures.established();
             t.queue.runUntilIdle();
         },
         "OpenVPN"},
        {"location chosen again while up", [](PaneTruthTest& t) { t.pane->changeDetailsView(t.nl); }, "OpenVPN"},
        {"dropped for good",
         [](PaneTruthTest& t) {
             t.engine.providerType.reset();
             t.engine.closures.disconnected(true, false);
             t.queue.runUntilIdle();
         },
         "Automatic"},
    };
    model.applySettings({{Keys::vpnProtocols, std::string(" OpenVPN")}});
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.act(*this);
        queue.runUntilIdle();
        EXPECT_EQ(view.protocol, step.shown);
        EXPECT_EQ(model.vpnProtocolReadableClean, step.shown);
    }
}

TEST_F(PaneTruthTest, ChoosingTheShownLocationAgainKeepsTheConnectionLine) {
    // The locations window selects the pane's location as it opens.
    const auto reselect = [&] {
        pane->changeDetailsView(nl);
        queue.runUntilIdle();
        return view.connectTo;
    };
    EXPECT_EQ(reselect(), "Connect to");
    click();
    engine.closures.connecting();
    queue.runUntilIdle();
    EXPECT_EQ(reselect(), "Connecting to");
    engine.closures.established();
    queue.runUntilIdle();
    EXPECT_EQ(reselect(), "Connected to");
    EXPECT_EQ(reselect(), "Connected to");
}

TEST_F(PaneTruthTest, ServerBarsComeWithTheirRecordsAndLeaveWithout) {
    EXPECT_FALSE(view.barSpinnersSpinning) << "nothing loads in a hidden bar";
    EXPECT_FALSE(view.bottomBar);
    EXPECT_EQ(queue.pending(), 0u) << "an idle pane keeps nothing scheduled";

    pane->setupTopNotificationBar(top(), bottom());
    EXPECT_FALSE(view.isTopBarHidden(PaneTopBar::server));
    ASSERT_EQ(view.slides.size(), 1u);
    EXPECT_EQ(view.slides[0].first, "in:2");
    view.finishSlides();
    ASSERT_TRUE(view.bottomBar);
    EXPECT_EQ(view.bottomBar->linkRange, (std::pair<std::size_t, std::size_t>{0, 14}));
    EXPECT_TRUE(pane->lastBottomNotificationBar());

    // The same bar again is restyled in place, not slid in twice.
    pane->setupTopNotificationBar(top(), bottom());
    EXPECT_TRUE(view.slides.empty());

    // A refresh that brings only the bottom bar takes the top one away.
    pane->setupTopNotificationBar(nullptr, bottom());
    view.finishSlides();
    EXPECT_TRUE(view.isTopBarHidden(PaneTopBar::server));
    EXPECT_TRUE(view.bottomBar);
    pane->setupTopNotificationBar(nullptr, nullptr);
    EXPECT_FALSE(view.bottomBar);
    EXPECT_FALSE(view.barSpinnersSpinning);
}

TEST_F(PaneTruthTest, ClosedBottomBarFoldsIntoTheGiftAcrossRefreshes) {
    pane->setupTopNotificationBar(nullptr, bottom());
    EXPECT_FALSE(view.bottomBarCollapsed);
    pane->onBottomBarCloseClick();
    EXPECT_TRUE(view.bottomBarCollapsed);
    EXPECT_TRUE(model.isMainViewBottomBarHidden());
    view.bottomBarCollapsed = false;
    pane->setupTopNotificationBar(nullptr, bottom());
    EXPECT_TRUE(view.bottomBarCollapsed) << "the next refresh keeps the user's choice";
    pane->giftBottonToOpenBottonBarClickHandler();
    EXPECT_FALSE(view.bottomBarCollapsed);
    EXPECT_FALSE(model.isMainViewBottomBarHidden());
}

TEST_F(PaneTruthTest, ChangeProtocolOpensTheProtocolSettingsOnlyWhileTheProtocolMayChange) {
    pane->onChangeProtocolLinkClick();
    EXPECT_EQ(shell.calls, std::vector<std::string>{"openSettingsWindowOnProtocol"});
    connectAndEstablish();
    shell.calls.clear();
    pane->onChangeProtocolLinkClick();
    EXPECT_EQ(shell.count("openSettingsWindowOnProtocol"), 0);
    EXPECT_EQ(shell.count("openLocationsWindow"), 0);
}

}  // namespace
}  // namespace hw::test
