// The main window, its pane and the locations window on the demo account, with
// the real engine and helper on the testbed's VPN servers: what they show is
// what is true. Offscreen; needs root and the testbed.
// The engine's headers come before Qt's, whose emit keyword they use as a name.
#include "support/testbed_engine.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/hub_shell_services.h"
#include "platform/qt/qt_image_codec.h"
#include "services/smart_wigdet_helper.h"
#include "support/fake_user_notification_center.h"
#include "support/recording_shell_commands.h"
#include "support/recording_url_opener.h"
#include "support/widget_test_app.h"
#include "windows/details_pane/main_view_details_area_controller.h"
#include "windows/details_pane/widgets/connect_button.h"
#include "windows/details_pane/widgets/main_view_details_view.h"
#include "windows/locations/locations_list_window_view_controller.h"
#include "windows/locations/widgets/locations_list_window_widget.h"
#include "windows/main/main_window_view_controller.h"
#include "windows/main/widgets/main_window_widget.h"
#include "windows/shared/widgets/locations_search_field_main.h"

namespace hw::test {
namespace {

// The shell as the windows reach it: the locations window really opens.
class TruthShell final : public RecordingShellCommands {
public:
    std::function<void()> showLocations;
    void openLocationsWindow() override {
        RecordingShellCommands::openLocationsWindow();
        if (showLocations) showLocations();
    }
};

// Voluntary context switches of this process's main thread: each is a sleep
// after a wake.
long mainThreadSwitches() {
    std::ifstream in("/proc/self/task/" + std::to_string(::getpid()) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
    return -1;
}

// How often the main thread woke while its event loop ran for `span`, the
// wake that ends the loop left out; -1 when the count cannot be read. A timer
// of the main thread's own ends it: a post from another thread could leave
// the woken thread waiting on that thread's lock, a second switch.
long mainThreadWakesOver(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    const long before = mainThreadSwitches();
    loop.exec();
    const long after = mainThreadSwitches();
    return before < 0 || after < 0 ? -1 : after - before - 1;
}

class MainWindowTruth : public TestbedEngineSuite {
protected:

    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        widgetTestApp();
        const std::string error = bed().start();
        ASSERT_TRUE(error.empty()) << error << "\n" << bed().helperLog();
        auto& model = bed().model();
        model.isLoggedInUser = true;
        model.isConnectedToInternet = true;
        bed().chooseProtocol(VPNTypesOpenVPN);
        model.setUseAutomaticLocation(false);
        auto& queue = *bed().queue_;
        images = std::make_unique<RemoteImageLoader>(queue, *bed().background_, codec);
        engine = std::make_unique<VPNConnectionManagerPaneEngine>(*bed().manager);
        mainWidget = std::make_unique<MainWindowWidget>(*images);
        locationsWidget = std::make_unique<LocationsListWindowWidget>(*images);
        BaseControllerContext context{model, nullptr, urlOpener};

        LocationsListWindowViewController::windowOpenedFlag = false;
        locations = std::make_shared<LocationsListWindowViewController>(LocationsListWindowEnvironment{
            context, *locationsWidget, *locationsWidget, queue, [this] { return main.get(); },
            [this] { return pane; }, true});
        shell.showLocations = [this] { locations->showWindow(); };

        MainWindowEnvironment e{context, *mainWidget, *mainWidget, queue, clock, shell, notifications,
                                *bed().hub->linksManager(), bed().hub->probeURLHelper(),
                                [] { return bed().hub->wi_fi_InfoHelper(); }, *engine, *images, locations.get(),
                                [this, context]() -> std::shared_ptr<DetailsPane> { return makePane(context); }};
        main = std::make_shared<MainWindowViewController>(std::move(e));
        main->showWindow();
        main->setupMainView(model.locationsListModel(), {});
        chooseNetherlands();
        loadSmartWidget();
        spinFor(300);
    }
    void TearDown() override {
        if (!skip_.empty()) return;
        main.reset();
        locations.reset();
        pane.reset();
        mainWidget.reset();
        locationsWidget.reset();
        LocationsListWindowViewController::windowOpenedFlag = false;
        bed().stop();
    }

    std::shared_ptr<DetailsPane> makePane(const BaseControllerContext& context) {
        auto* container = mainWidget->detailsContainer();
        view = new MainViewDetailsView(*images, container);
        view->setGeometry(container->rect());
        view->mapImages = MainViewDetailsView::mapImagesOf(bed().model());
        MainViewDetailsEnvironment env{context, *view, *bed().queue_, *engine, shell};
        env.links = bed().hub->linksManager().get();
        env.wifiInfo = [] { return bed().hub->wi_fi_InfoHelper(); };
        env.reachability = [] { return bed().hub->internetReachabilityHelper(); };
        env.refreshUserIPAddress = [](std::function<void()> done) { bed().hub->refreshUserIPAddress(std::move(done)); };
        env.mainWindow = mainWidget.get();
        pane = std::make_shared<MainViewDetailsAreaController>(std::move(env));
        view->show();
        return pane;
    }
    void chooseNetherlands() {
        ASSERT_TRUE(spinUntil([&] { return bed().location("NL") != nullptr; }, 15000));
        for (const auto& item : bed().model().locationsListModel()->items())
            if (item->vpnConfig && item->vpnConfig->countryCode == "NL") main->selectLocation(item, true);
        ASSERT_TRUE(pane && pane->dataObject() && pane->dataObject()->name == "Netherlands");
    }
    // The information tile's data, so that its spinner stops as in the application.
    void loadSmartWidget() {
        std::optional<SmartWidgetReply> reply;
        bed().hub->smartWidgetService()->requestSmartWidgetData(
            bed().env.get("HAVENWAY_TESTBED_APP_ID"), bed().parse->currentUser()->sessionToken,
            [&](SmartWidgetReply r) { reply = r; }, [](const std::string&) {});
        ASSERT_TRUE(spinUntil([&] { return reply.has_value(); }, 30000));
        main->onLatestSmartWidgetDataLoadedWithData(bed().model().makeSmartWidgetData(
            reply->link, reply->title, reply->image, reply->subtitle, reply->link_text));
    }
    // The demo's bars, asked for the way the application asks after sign-in.
    void loadServerBars() {
        HubShellServices services(*bed().hub, *bed().parse, *bed().queue_);
        bool answered = false;
        services.requestNotificationBars([&](std::shared_ptr<TopNotificationBarModel> top,
                                             std::shared_ptr<BottomNotificationBarModel> bottom) {
            answered = true;
            main->refreshTopNotificationBar(top, bottom);
        });
        ASSERT_TRUE(spinUntil([&] { return answered; }, 30000));
    }
    int wholeList() const { return 1 + int(bed().model().locationsListModel()->listWithGroups().size()); }
    bool connectedLook() {
        return spinUntil([&] { return pane->connectButtonState() == ConnectButtonStates::disconnect; }, 45000);
    }
    void disconnect() {
        spinUntil([&] { return pane->isConnectedButtonActive(); }, 2000);
        view->connectButton()->click();
        spinUntil([&] { return bed().model().currentConnectionState() == ConnectionStates::disconnected; }, 20000);
    }

    QtImageCodec codec;
    RecordingURLOpener urlOpener;
    TruthShell shell;
    FakeUserNotificationCenter notifications;
    struct : Clock {
        double wallSeconds() const override { return 0; }
        std::int64_t steadyMillis() const override { return 0; }
    } clock;
    std::unique_ptr<RemoteImageLoader> images;
    std::unique_ptr<VPNConnectionManagerPaneEngine> engine;
    std::unique_ptr<MainWindowWidget> mainWidget;
    std::unique_ptr<LocationsListWindowWidget> locationsWidget;
    std::shared_ptr<LocationsListWindowViewController> locations;
    std::shared_ptr<MainWindowViewController> main;
    std::shared_ptr<MainViewDetailsAreaController> pane;
    MainViewDetailsView* view = nullptr;
};

TEST_F(MainWindowTruth, ConnectedOverOpenVPNTheFieldsSaySoAlsoWithTheLocationsWindowOpen) {
    EXPECT_EQ(view->protocolText(), "OpenVPN") << "the stored choice before connecting";
    spinUntil([&] { return pane->isConnectedButtonActive(); }, 2000);
    view->connectButton()->click();
    ASSERT_TRUE(connectedLook()) << testing::PrintToString(shell.calls) << bed().helperLog();
    spinFor(200);
    EXPECT_EQ(view->connectToText(), "Connected to");
    EXPECT_EQ(view->protocolText(), "OpenVPN");
    EXPECT_EQ(bed().model().vpnProtocolReadableClean, "OpenVPN");
    // What the fields say is what carried the tunnel.
    ASSERT_TRUE(bed().manager->currentProvider());
    EXPECT_EQ(bed().manager->currentProvider()->type(), VPNTypesOpenVPN);
    EXPECT_EQ(bed().tunnelCommands()["createOpenVPNConnection"], 1);
    EXPECT_EQ(bed().tunnelCommands()["start_connection"], 0);

    locations->showWindow();
    spinFor(300);
    EXPECT_EQ(view->connectToText(), "Connected to") << "opening the locations window changes nothing";
    EXPECT_EQ(main->tableViewModel().rowCount(), wholeList());
    disconnect();
    EXPECT_TRUE(spinUntil([&] { return view->connectToText() == "Connect to"; }, 5000)) << view->connectToText().toStdString();
}

TEST_F(MainWindowTruth, LocationsSearchLeavesTheMainListWholeAndTheArrowOnlyOpensTheWindow) {
    // A click on the arrow inside the connect button.
    QAbstractButton* arrow = view->changeLocationInsideOfConnectButton();
    ASSERT_TRUE(arrow->isVisible());
    QTest::mouseClick(arrow, Qt::LeftButton);
    spinFor(300);
    EXPECT_EQ(shell.count("openLocationsWindow"), 1);
    EXPECT_TRUE(locationsWidget->isVisible());
    EXPECT_EQ(bed().model().currentConnectionState(), ConnectionStates::disconnected);
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connect) << "the arrow does not connect";

    QTest::keyClicks(&locationsWidget->searchField(), "ja");
    spinFor(100);
    EXPECT_LT(locations->tableViewModel().rowCount(), wholeList());
    // Connecting reloads the main list; its own search field is empty.
    main->deactivateTableView();
    EXPECT_EQ(main->tableViewModel().rowCount(), wholeList());
    EXPECT_TRUE(main->tableViewModel().rowOfItem(pane->dataObject().get()));
    main->activateTableView();

    QTest::mouseClick(view->changeProtocolLink(), Qt::LeftButton);
    EXPECT_EQ(shell.count("openSettingsWindowOnProtocol"), 1);
    EXPECT_EQ(shell.count("openLocationsWindow"), 1) << "the protocol link is not the locations link";
}

TEST_F(MainWindowTruth, DemoBarsShowTheirLinksOpenAndTheIdleWindowSleeps) {
    loadServerBars();
    spinFor(600);  // the slide-in
    QWidget* top = view->topBarView(PaneTopBar::server);
    ASSERT_TRUE(top->isVisible());
    EXPECT_EQ(top->y(), 0);
    ASSERT_TRUE(view->bottomBar()->isVisible());
    EXPECT_TRUE(view->footerLink()->text().contains("Invite friends")) << view->footerLink()->text().toStdString();
    const auto links = top->findChildren<QAbstractButton*>();
    ASSERT_FALSE(links.empty());
    links.front()->click();
    view->footerLink()->click();
    ASSERT_EQ(urlOpener.opened.size(), 2u);
    for (const auto& url : urlOpener.opened) {
        EXPECT_EQ(url.rfind("https://", 0), 0u) << url;
        EXPECT_EQ(url.find("{$"), std::string::npos) << "placeholders filled: " << url;
    }

    // Signed in, disconnected, the window active, nothing moving: the main
    // thread sleeps. What the set-up started (the bars' slide, a late reply on
    // a loaded machine) ends first: a second without a wake, within 15 s. A
    // timer of a second or less never lets it settle; a slower one shows in
    // the ten seconds after.
    mainWidget->activateWindow();
    long wakes = -1;
    for (int second = 0; second < 15 && wakes != 0; ++second) {
        wakes = mainThreadWakesOver(std::chrono::seconds(1));
        ASSERT_GE(wakes, 0) << "no switch count for the main thread";
    }
    ASSERT_EQ(wakes, 0) << "the main thread never settled: it woke every second for 15 s";
    EXPECT_EQ(mainThreadWakesOver(std::chrono::seconds(10)), 0) << "the main thread woke while idle";
}

}  // namespace
}  // namespace hw::test
