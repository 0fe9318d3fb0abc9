#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/kit_controller_fixture.h"
#include "support/recording_window_view.h"
#include "view/base_view_controller.h"
#include "view/base_window_view_controller.h"

namespace hw::test {
namespace {

using Journal = std::vector<std::string>;

class HookRecorder : public BaseWindowViewController {
public:
    HookRecorder(const BaseControllerContext& context, RecordingWindowView& window, Journal& journal)
        : BaseWindowViewController(context, window), view_(window), journal_(journal) {
        onWindowClosedNotification = [this](BaseWindowViewController& c) {
            EXPECT_EQ(&c, this);
            journal_.push_back("onWindowClosedNotification");
        };
    }
    bool followMoves = false;
    std::vector<WindowFrame> moves;

protected:
    void prepareWindowMoveObservers() override {
        if (followMoves) doPrepareWindowMoveObservers();
    }
    void onWindowMoved(const WindowFrame& frame) override { moves.push_back(frame); }
    void changeWindowTitleName() override {
        BaseWindowViewController::changeWindowTitleName();
        journal_.push_back("changeWindowTitleName:" + view_.currentTitle);
    }
    void setupAfterAwakeFromNib() override { journal_.push_back("setupAfterAwakeFromNib"); }
    void setupComponents() override { journal_.push_back("setupComponents"); }
    void customizeComponents() override { journal_.push_back("customizeComponents"); }
    void setupAfterOpening() override { journal_.push_back(std::string("setupAfterOpening") + (view_.visible ? ":shown" : "")); }
    void setupBeforeClosing() override { journal_.push_back("setupBeforeClosing"); }

private:
    RecordingWindowView& view_;
    Journal& journal_;
};

struct HookCase {
    const char* name;
    std::vector<const char*> steps;
    Journal expected;
};

class BaseWindowViewControllerTest : public ::testing::TestWithParam<HookCase> {};

const std::string kLoad[] = {"changeWindowTitleName:Havenway", "setupAfterAwakeFromNib", "setupComponents",
                             "customizeComponents"};

Journal concat(std::initializer_list<Journal> parts) {
    Journal all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
const Journal load(std::begin(kLoad), std::end(kLoad));

TEST_P(BaseWindowViewControllerTest, RunsHooksInOrder) {
    KitControllerFixture f;
    RecordingWindowView window;
    Journal journal;
    HookRecorder controller(f.context, window, journal);
    for (const std::string step : GetParam().steps) {
        if (step == "show") controller.showWindow();
        if (step == "orderOut") controller.orderOut();
        if (step == "read") controller.window();
        if (step == "close") controller.close();
        if (step == "userCloses") window.userCloses();
    }
    EXPECT_EQ(journal, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Triggers, BaseWindowViewControllerTest,
    ::testing::Values(
        HookCase{"FirstOrderOutLoadsWithoutOpening", {"orderOut"}, load},
        HookCase{"ReadingTheWindowLoadsIt", {"read", "read"}, load},
        HookCase{"OrderOutHasNoCloseHooks", {"show", "orderOut", "show"},
                 concat({load, {"setupAfterOpening:shown", "setupAfterOpening:shown"}})},
        HookCase{"Close", {"show", "close"},
                 concat({load, {"setupAfterOpening:shown", "onWindowClosedNotification", "setupBeforeClosing"}})},
        HookCase{"UserClosesThenReopens", {"show", "userCloses", "show"},
                 concat({load,
                         {"setupAfterOpening:shown", "onWindowClosedNotification", "setupBeforeClosing",
                          "setupAfterOpening:shown"}})},
        HookCase{"CloseOfAWindowNeverNeeded", {"close"}, {}}),
    [](const auto& info) { return info.param.name; });

TEST(BaseWindowViewController, FollowsMovesOnlyWhenASubclassAsksAndOnlyWhileItLives) {
    KitControllerFixture f;
    Journal journal;
    for (bool follow : {false, true}) {
        RecordingWindowView window;
        {
            HookRecorder controller(f.context, window, journal);
            controller.followMoves = follow;
            controller.showWindow();
            window.userDrags({5, 6, 7, 8});
            EXPECT_EQ(controller.moves.size(), follow ? 1u : 0u);
        }
        EXPECT_FALSE(window.closeHandler) << "a view outliving its controller calls nothing";
        EXPECT_FALSE(window.moveHandler);
    }
}

TEST(BaseWindowViewController, AlertsAndSheetsAnswerTheButtonPressedAndAnalyticsKeepAnAbsentDictionary) {
    KitControllerFixture f;
    RecordingWindowView window;
    BaseWindowViewController controller(f.context, window);
    int dismissed = 0;
    controller.alertWithTitle("Title", "Message", [&] { ++dismissed; });
    ASSERT_EQ(window.alertView.shown.size(), 1u);
    EXPECT_EQ(window.alertView.shown[0].request.modality, AlertModality::Application);
    EXPECT_EQ(dismissed, 0);
    window.alertView.answer(0);
    EXPECT_EQ(dismissed, 1);
    controller.alertWithTitle("Again", "", [&] { ++dismissed; });
    window.alertView.answer(1);
    EXPECT_EQ(dismissed, 1) << "only the first button dismisses";
    controller.alertWithTitle("No closure", "");
    EXPECT_TRUE(window.alertView.answer(0));

    int response = 0;
    controller.beginSheet({"Quit?", "", {"Quit", "Cancel"}}, [&](int r) { response = r; });
    EXPECT_EQ(window.alertView.shown.back().request.modality, AlertModality::Sheet);
    window.alertView.answer(1);
    EXPECT_EQ(response, kAlertSecondButtonReturn);

    controller.sendAnalyticsEvent("ae_one");
    controller.sendAnalyticsEvent("ae_two", AnalyticsParameters{{"ap_k", "v"}});
    ASSERT_EQ(f.events.size(), 2u);
    EXPECT_FALSE(f.events[0].second.has_value());
    EXPECT_EQ(f.events[1].second, (AnalyticsParameters{{"ap_k", "v"}}));
}

class PaneRecorder : public BaseViewController {
public:
    using BaseViewController::BaseViewController;
    Journal journal;

protected:
    void setupComponents() override { journal.push_back("setupComponents"); }
    void customizeComponents() override { journal.push_back("customizeComponents"); }
};

TEST(BaseViewController, LoadsOnceAndOpensThroughThePort) {
    KitControllerFixture f;
    PaneRecorder pane(f.context);
    pane.loadViewIfNeeded();
    pane.loadViewIfNeeded();
    EXPECT_EQ(pane.journal, (Journal{"setupComponents", "customizeComponents"}));
    pane.openURL("https://havenway.test/help");
    pane.openURL("file:///etc/passwd");
    EXPECT_EQ(f.urlOpener.opened, std::vector<std::string>{"https://havenway.test/help"});
}

}  // namespace
}  // namespace hw::test
