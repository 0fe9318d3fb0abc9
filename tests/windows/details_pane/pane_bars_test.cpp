// The pane's top bars, its links and the update sheet's overlay.
#include <gtest/gtest.h>

#include "core/global_constants.h"
#include "services/notification_bar_models.h"
#include "windows/details_pane/pane_fixture.h"

namespace hw::test {
namespace {

struct PaneBarsTest : PaneFixture, ::testing::Test {};

TEST_F(PaneBarsTest, SlidesHideTheStripAndAnOutHidesItsBarOnlyIfNoShowCameAfter) {
    pane->showUpdateTopNotificationBar();
    EXPECT_FALSE(view.isTopBarHidden(PaneTopBar::update));
    view.finishSlides();
    EXPECT_TRUE(view.stripHidden);

    pane->closeUpdateTopNotificationBar();
    EXPECT_FALSE(view.stripHidden);  // at once, before the slide
    pane->showUpdateTopNotificationBar();
    view.finishSlides();  // the out's end, then the in's
    EXPECT_FALSE(view.isTopBarHidden(PaneTopBar::update));

    pane->closeUpdateTopNotificationBar();
    view.finishSlides();
    EXPECT_TRUE(view.isTopBarHidden(PaneTopBar::update));
    // A hidden bar does not slide again.
    pane->closeUpdateTopNotificationBar();
    EXPECT_TRUE(view.slides.empty());
}

TEST_F(PaneBarsTest, ServerBarTakesTheTipColoursAndItsBoldRangeInUtf16) {
    auto top = std::make_shared<TopNotificationBarModel>("Ünïcode", "https://t", "Try Ünïcode today", "action");
    auto bottom = std::make_shared<BottomNotificationBarModel>("friends", "https://b", "Invite friends", nullptr);
    pane->setupTopNotificationBar(top, bottom);
    ASSERT_TRUE(view.serverLook);
    const auto& tip = GlobalConstants::notificationBarStyles().at("tip");
    EXPECT_EQ(view.serverLook->background, tip.backgroundColor);
    EXPECT_EQ(view.serverLook->icon, "");  // "action": no icon, moved left
    EXPECT_EQ(view.serverLook->leftConstraint, 15.0);
    EXPECT_EQ(view.serverLook->boldRange, (std::pair<std::size_t, std::size_t>{3, 9}));
    ASSERT_TRUE(view.bottomBar);
    EXPECT_EQ(view.bottomBar->text, "Invite friends");
    EXPECT_EQ(view.bottomBar->linkRange, (std::pair<std::size_t, std::size_t>{7, 7}));
}

TEST_F(PaneBarsTest, LinksOpenOnlyAsWebPagesAndOnlyOnline) {
    struct Row {
        std::string link;
        bool online;
        bool opens;
    };
    const Row rows[] = {{"https://help.havenway.test/x", true, true}, {"HTTP://help.havenway.test/x", true, true},
                        {"https://help.havenway.test/x", false, false}, {"file:///etc/passwd", true, false},
                        {"javascript:alert(1)", true, false}, {"mailto:a@b.test", true, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.link);
        urlOpener.opened.clear();
        model.isConnectedToInternet = row.online;
        pane->setupTopNotificationBar(std::make_shared<TopNotificationBarModel>("t", row.link, "t", std::nullopt),
                                      std::make_shared<BottomNotificationBarModel>("b", row.link, "b", nullptr));
        pane->onTopBarLinkedButtonClick();
        pane->onFooterLinkClick();
        pane->onInviteFriendsBottomBarButtonClick();
        EXPECT_EQ(urlOpener.opened.size(), row.opens ? 3u : 0u);
    }
}

TEST_F(PaneBarsTest, UpdateInstallOpensTheDownloadPageOrTheSheet) {
    model.useAutoUpdater = false;
    model.newAppVersionDowloadLink = "ftp://downloads.test/app";
    pane->showUpdateTopNotificationBar();
    view.finishSlides();
    pane->onUpdateInstall_linkButtonClick();
    EXPECT_TRUE(urlOpener.opened.empty());
    EXPECT_TRUE(view.slides.empty());  // the bar stays
    model.newAppVersionDowloadLink = "https://downloads.test/app";
    pane->onUpdateInstall_linkButtonClick();
    EXPECT_EQ(urlOpener.opened, std::vector<std::string>{"https://downloads.test/app"});
    EXPECT_EQ(view.slides.size(), 1u);

    // The sheet: the overlay fades in, then out when the sheet ends; without a window it ends at once.
    model.useAutoUpdater = true;
    pane->onUpdateInstall_linkButtonClick();
    ASSERT_EQ(view.fades.size(), 1u);
    EXPECT_EQ(view.fades[0].first, "in:0.3");
    view.fades[0].second();
    ASSERT_EQ(view.fades.size(), 2u);
    EXPECT_EQ(view.fades[1].first, "out:1.0");
    view.updateOverlayHidden = false;
    view.fades[1].second();
    EXPECT_TRUE(view.updateOverlayHidden);
}

TEST_F(PaneBarsTest, LocationChangeLinksFollowTheLock) {
    pane->onPickDifferentLocation_linkButtonClick();
    pane->onChangeLinkFieldClick();
    EXPECT_EQ(shell.count("openLocationsWindow"), 2);
    connectAndEstablish();
    shell.calls.clear();
    pane->onPickDifferentLocation_linkButtonClick();
    pane->onChangeLinkFieldClick();
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_EQ(view.protocolLinkAlpha, 0.35);
}

}  // namespace
}  // namespace hw::test
