// The shell's windows on the hub's real services, offscreen: a launch makes the
// window it shows and no other, and what the main window hands the locations
// window before that one exists reaches it when it is first shown.
// The hub's headers come before Qt's, whose emit keyword they use as a name.
#include "app/offscreen_hub.h"

#include <gtest/gtest.h>

#include <QApplication>

#include "app/app_delegate.h"
#include "app/auth_window_port_adapter.h"
#include "app/locations_window_port_adapter.h"
#include "app/main_window_port_adapter.h"
#include "services/locations_list_model.h"
#include "support/widget_test_app.h"
#include "windows/locations/widgets/locations_list_window_widget.h"
#include "windows/login/widgets/auth_window_widget.h"
#include "windows/main/widgets/main_window_widget.h"

namespace hw::test {
namespace {

template <class Widget>
int made() {
    int n = 0;
    for (QWidget* w : QApplication::allWidgets()) n += qobject_cast<Widget*>(w) != nullptr;
    return n;
}

class LazyWindows : public ::testing::Test, private WidgetAppFirst, protected OffscreenHub {
protected:
    ~LazyWindows() override {
        delegate.reset();
        hub.reset();
    }
    void launch(bool showWelcome) {
        store.set(SettingsUserDefaults::showWelcomePage, showWelcome);
        ShellWindows windows;
        auto locations = std::make_unique<LocationsWindowPortAdapter>(LocationsWindowAdapterParts{
            hub->appModel(), queue, queue, codec, opener, nullptr, [] { return nullptr; }, nullptr, nullptr});
        locationsWindow = locations.get();
        windows.locations = std::move(locations);
        windows.main = std::make_unique<MainWindowPortAdapter>(MainWindowAdapterParts{
            *hub, queue, queue, codec, queue, notifications, opener, nullptr,
            [this]() -> ShellCommands* { return delegate.get(); }, nullptr, &locationsWindow->locationsWindow()});
        auto auth = std::make_unique<AuthWindowPortAdapter>(
            AuthWindowAssembly{BaseControllerContext{hub->appModel(), nullptr, opener}, *hub->authService(),
                               *hub->linksManager(), queue, nullptr, nullptr, {}, false, hub->freeTrialService().get()});
        authWindow = auth.get();
        windows.auth = std::move(auth);
        delegate = std::make_unique<AppDelegate>(
            AppDelegateEnvironment{*hub, store, queue, services, std::move(windows), alerts, notifications});
        authWindow->attach(*delegate);
        delegate->applicationDidFinishLaunching();
        queue.runUntilIdle();
    }

    LocationsWindowPortAdapter* locationsWindow = nullptr;
    AuthWindowPortAdapter* authWindow = nullptr;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(LazyWindows, ALaunchMakesOnlyTheWindowItShows) {
    struct Row {
        bool showWelcome;
        int loginWindows;
    };
    // No welcome pages are handed over here: that launch shows nothing of ours.
    for (const Row row : {Row{false, 1}, Row{true, 0}}) {
        launch(row.showWelcome);
        EXPECT_EQ(made<AuthWindowWidget>(), row.loginWindows) << row.showWelcome;
        EXPECT_EQ(made<MainWindowWidget>(), 0) << row.showWelcome;
        EXPECT_EQ(made<LocationsListWindowWidget>(), 0) << row.showWelcome;
        delegate.reset();
    }
}

TEST_F(LazyWindows, TheListHandedOverEarlyReachesTheLocationsWindowWhenFirstShown) {
    launch(false);
    LocationsWindow& forMain = locationsWindow->locationsWindow();
    auto list = std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{});
    forMain.updateTableData(list);
    forMain.onMainWindowMoved(WindowFrame{100, 100, 400, 600});
    locationsWindow->close();
    EXPECT_FALSE(locationsWindow->isVisible());
    EXPECT_FALSE(forMain.windowOpened());
    ASSERT_FALSE(locationsWindow->isMade()) << "nothing above needs the window itself";

    locationsWindow->showWindow();
    queue.runUntilIdle();
    EXPECT_TRUE(locationsWindow->isVisible());
    EXPECT_EQ(locationsWindow->controller().tableViewDataObject(), list);
    auto later = std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{});
    forMain.updateTableData(later);
    EXPECT_EQ(locationsWindow->controller().tableViewDataObject(), later);
}

TEST_F(LazyWindows, TheSignUpWindowTakesTheLoginWindowsPlaceOnlyWhenThatOneIsShown) {
    launch(false);
    ASSERT_TRUE(authWindow->isVisible());
    delegate->openFreeTrialSignUpWindow();
    EXPECT_TRUE(hub->appModel().loginWindowFrame);
    delegate.reset();
    hub->appModel().loginWindowFrame.reset();

    // Made for another reason but never shown: no place to take.
    launch(true);
    authWindow->orderOut();
    delegate->openFreeTrialSignUpWindow();
    EXPECT_FALSE(hub->appModel().loginWindowFrame) << "the sign-up window would jump to the screen's corner";
}

}  // namespace
}  // namespace hw::test
