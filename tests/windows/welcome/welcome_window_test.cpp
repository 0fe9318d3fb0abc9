#include "windows/welcome/welcome_window_view_controller.h"

#include <gtest/gtest.h>

#include "support/model_fixture.h"
#include "support/recording_url_opener.h"
#include "support/recording_window_view.h"
#include "windows/login/auth_shell_commands.h"
#include "windows/login/auth_window_view_controller.h"

namespace hw {
namespace {

class RecordingWelcomeView final : public WelcomeWindowView {
public:
    WelcomeActions* actions = nullptr;
    std::size_t arranged = 0, selected = 0;
    std::map<std::size_t, bool> hidden;
    long dots = -1, currentDot = -1;
    PageDotsFrame dotsFrame;
    std::string buttons;

    void setActions(WelcomeActions* a) override { actions = a; }
    double contentWidth() const override { return 400; }
    void setArrangedPages(std::size_t count) override { arranged = count; }
    std::size_t selectedIndex() const override { return selected; }
    void setSelectedIndex(std::size_t index) override { selected = index; }
    // The container slides, then reports both ends.
    void navigateForward() override {
        actions->pageControllerWillStartLiveTransition();
        ++selected;
        actions->pageControllerDidEndLiveTransition();
    }
    void completeTransition() override {}
    void setPageHidden(std::size_t index, bool h) override { hidden[index] = h; }
    void setupPageDots(long pages, double, double, const PageDotsFrame& frame) override {
        dots = pages;
        dotsFrame = frame;
    }
    void setCurrentDot(long index) override { currentDot = index; }
    void setButtonTitles(const std::string& l, const std::string& s) override { buttons = l + "|" + s; }
};

class WelcomeWindowTest : public test::ModelFixture {
protected:
    WelcomeWindowTest() { window.currentFrame = {0, 0, 400, 500}; }
    ~WelcomeWindowTest() override {
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = false;
        AuthWindowViewController::ACTIVATE_LOG_IN_STATE = false;
    }
    WelcomeWindowViewController& open(std::optional<std::string> resource =
                                          R"({"pages":[{"identifier":"b","title":"t3"},{"identifier":"a","title":"t2"},)"
                                          R"({"identifier":"10","title":"t1"},{"title":"t0"}]})") {
        shell.calls.clear();
        view = RecordingWelcomeView();
        controller.reset();
        controller = std::make_unique<WelcomeWindowViewController>(
            context, window, view, WelcomeDependencies{shell, [resource] { return resource; }});
        controller->showWindow();
        return *controller;
    }

    test::RecordingURLOpener opener;
    BaseControllerContext context{*model, nullptr, opener};
    test::RecordingWindowView window;
    RecordingWelcomeView view;
    test::AuthShellCommands shell;
    std::unique_ptr<WelcomeWindowViewController> controller;
};

TEST_F(WelcomeWindowTest, PagesSortUnnamedFirstThenByBytesUnderCentredDots) {
    auto& c = open();
    std::vector<std::string> titles;
    for (const auto& page : *c.pagesList()) titles.push_back(page.titleKey);
    EXPECT_EQ(titles, (std::vector<std::string>{"t0", "t1", "t2", "t3"}));
    EXPECT_EQ(view.arranged, 4u);
    EXPECT_EQ(view.buttons, "LOG IN|SIGN UP");
    EXPECT_EQ(view.dots, 4);
    EXPECT_EQ(view.currentDot, 0);
    EXPECT_EQ(view.dotsFrame, (PageDotsFrame{174.0, 110.0, 52.0, 7.0}));
    EXPECT_EQ(WelcomeWindowViewController::pageDotsFrame(1, 401).x, 197.0) << "no rounding";

    // Pages are made on first need, once each.
    EXPECT_EQ(c.identifierForObject(9), "0");
    auto& second = c.viewControllerForIdentifier(c.identifierForObject(2));
    EXPECT_EQ(&second, &c.viewControllerForIdentifier("2"));
    EXPECT_EQ(second.customView->titleKey, "t2");
    EXPECT_EQ(c.pagesViewControllersCount(), 1u);
}

TEST_F(WelcomeWindowTest, EveryControlOnFirstMiddleAndLastPage) {
    struct Row {
        const char* control;
        std::size_t page;
        std::size_t landsOn;  // when it stays
        bool handsOver, signUp, logIn;
    };
    const Row rows[] = {
        {"next", 0, 1, false, false, false}, {"next", 2, 3, false, false, false}, {"next", 3, 3, true, false, false},
        {"logIn", 0, 0, true, false, true},  {"logIn", 3, 3, true, false, true},  {"signUp", 2, 2, true, true, false},
        {"dot", 0, 3, false, false, false},  {"dot", 3, 1, false, false, false},  {"skip", 1, 1, true, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.control) + " on " + std::to_string(row.page));
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = AuthWindowViewController::ACTIVATE_LOG_IN_STATE = false;
        auto& c = open();
        view.actions->pageControlDidSelectPageAtIndex(static_cast<long>(row.page));
        const std::string control = row.control;
        if (control == "next") view.actions->handleNextButtonClick();
        if (control == "logIn") view.actions->onLogInButtonClick();
        if (control == "signUp") view.actions->onSignUpButtonClick();
        if (control == "skip") view.actions->skipWelcomePage();
        if (control == "dot") view.actions->pageControlDidSelectPageAtIndex(static_cast<long>(row.landsOn));
        EXPECT_EQ(shell.count("skipWelcomePage"), row.handsOver ? 1 : 0);
        EXPECT_EQ(AuthWindowViewController::ACTIVATE_SIGN_UP_STATE, row.signUp);
        EXPECT_EQ(AuthWindowViewController::ACTIVATE_LOG_IN_STATE, row.logIn);
        if (row.handsOver) continue;
        EXPECT_EQ(view.selected, row.landsOn);
        if (control != "dot") { EXPECT_EQ(view.currentDot, static_cast<long>(row.landsOn)) << "dots light their own"; }
        EXPECT_EQ(c.pageItemsArrayController().selectionIndex(), row.landsOn);
    }
}

TEST_F(WelcomeWindowTest, ASwipeThatComesBackShowsItsPageAgain) {
    open();
    view.actions->pageControllerWillStartLiveTransition();
    EXPECT_TRUE(view.hidden[0]);
    view.actions->pageControllerDidEndLiveTransition();
    EXPECT_FALSE(view.hidden[0]);
}

TEST_F(WelcomeWindowTest, UnreadablePagesGiveNoDotsAndNextHandsOver) {
    for (auto resource : {std::optional<std::string>(), std::optional<std::string>("{}"),
                          std::optional<std::string>(R"({"pages":[]})")}) {
        open(resource);
        EXPECT_EQ(view.dots, 0);
        EXPECT_EQ(view.arranged, 0u);
        view.actions->handleNextButtonClick();
        EXPECT_EQ(shell.count("skipWelcomePage"), 1);
    }
}

}  // namespace
}  // namespace hw
