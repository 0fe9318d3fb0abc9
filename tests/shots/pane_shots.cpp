// The details pane's states over the main window, on the demo account's data.
#include <QLabel>
#include <QVBoxLayout>
#include <stdexcept>

#include "controllers/main_view_details/main_view_details_area_controller.h"
#include "controllers/main_view_details/main_view_details_view.h"
#include "controllers/main_window_testbed.h"
#include "services/notification_bar_models.h"
#include "shots.h"
#include "texts/locale_data.h"
#include "view/top_bar/notification_bar_views.h"
#include "view/top_bar/top_bar_notification_area_controller.h"

namespace hw::shots {
namespace {

std::unique_ptr<test::MainWindowTestbed> signedInDemo() {
    const std::optional<test::TestbedEnv> env = test::TestbedEnv::load();
    if (!env) throw std::runtime_error("testbed not up");
    auto bed = std::make_unique<test::MainWindowTestbed>(*env);
    const std::string user = env->get("HAVENWAY_TESTBED_DEMO_USER");
    if (auto failure = bed->signInAndLoad(user, env->get("HAVENWAY_TESTBED_DEMO_PASSWORD")); !failure.empty())
        throw std::runtime_error(failure);
    return bed;
}

// The main window with the real pane on a scripted engine; itself never shown.
class PaneRig final : public QWidget {
public:
    PaneRig() {
        rig = signedInDemo();
        auto& model = rig->hub->appModel();
        model.isLoggedInUser = true;
        rig->images = std::make_unique<RemoteImageLoader>(rig->queue, rig->background, rig->codec);
        rig->widget = std::make_unique<MainWindowWidget>(*rig->images);
        BaseControllerContext context{model, nullptr, rig->urlOpener};
        MainWindowEnvironment e{context, *rig->widget, *rig->widget, rig->queue, rig->clock, rig->shell,
                                rig->notifications, *rig->hub->linksManager(), rig->hub->probeURLHelper(),
                                [this] { return rig->wifiInfo; }, rig->engine, *rig->images, nullptr,
                                [this, &model, context] {
                                    auto* container = rig->widget->detailsContainer();
                                    view = new MainViewDetailsView(*rig->images, container);
                                    view->mapImages = MainViewDetailsView::mapImagesOf(model);
                                    auto* layout = new QVBoxLayout(container);
                                    layout->setContentsMargins(0, 0, 0, 0);
                                    layout->addWidget(view);
                                    MainViewDetailsEnvironment env{context, *view, rig->queue, rig->engine,
                                                                   rig->shell};
                                    env.links = rig->hub->linksManager().get();
                                    env.wifiInfo = [this] { return rig->wifiInfo; };
                                    env.mainWindow = rig->widget.get();
                                    pane = std::make_shared<MainViewDetailsAreaController>(std::move(env));
                                    return pane;
                                }};
        rig->controller = std::make_shared<MainWindowViewController>(std::move(e));
        rig->controller->showWindow();
        rig->controller->setupMainView(model.locationsListModel(), {});
        rig->widget->move(60, 60);
        if (!rig->waitForMapAndFlag()) throw std::runtime_error("map or flag never placed");
        settle();
    }
    ~PaneRig() override {
        rig->controller.reset();
        pane.reset();
        rig.reset();
    }

    // Runs what the pane posted, and its delays up to the bound.
    void settle(int ms = 50) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    void connect() {
        pane->performConnectAction();
        settle(300);
        rig->engine.closures.established();
        settle();
        rig->engine.tick("00:12:34");
        pane->updateIPAddress("203.0.113.24");
        settle();
    }

    std::unique_ptr<test::MainWindowTestbed> rig;
    MainViewDetailsView* view = nullptr;
    std::shared_ptr<MainViewDetailsAreaController> pane;
};

constexpr bool kTestbed = true;

HW_SHOT("pane.ready", [](ShotStage& stage) {
    stage.window<PaneRig>();
    stage.advanceAnimations(1000);
}, kTestbed);

HW_SHOT("pane.connecting", [](ShotStage& stage) {
    auto& rig = stage.window<PaneRig>();
    rig.pane->performConnectAction();
    rig.settle(300);
    rig.rig->engine.closures.connecting();
    rig.settle();
    stage.advanceAnimations(400);
}, kTestbed);

HW_SHOT("pane.connected", [](ShotStage& stage) {
    auto& rig = stage.window<PaneRig>();
    rig.connect();
    stage.advanceAnimations(2000);
}, kTestbed);

HW_SHOT("pane.reconnecting-killswitch", [](ShotStage& stage) {
    auto& rig = stage.window<PaneRig>();
    rig.connect();
    rig.rig->hub->appModel().networkLockActivated = true;
    rig.rig->engine.closures.disconnected(false, false);
    rig.settle();
    stage.advanceAnimations(2000);
}, kTestbed);

void errorShot(ShotStage& stage, std::function<std::string(PaneRig&)> text) {
    auto& rig = stage.window<PaneRig>();
    rig.pane->showErrorNotificationBar(text(rig));
    rig.settle();
    stage.advanceAnimations(1000);
}

HW_SHOT("pane.error-short", [](ShotStage& stage) {
    errorShot(stage, [](PaneRig&) { return LocaleData::vpn_ppp_error_new_3(); });
}, kTestbed);

HW_SHOT("pane.error-long", [](ShotStage& stage) {
    errorShot(stage, [](PaneRig&) {
        return std::string("The server did not answer in time. Check your network settings and try another "
                           "protocol, or contact support.");
    });
}, kTestbed);

HW_SHOT("pane.error-pick-location", [](ShotStage& stage) {
    errorShot(stage, [](PaneRig&) { return LocaleData::vpn_ppp_error_new_1(); });
}, kTestbed);

HW_SHOT("pane.no-internet", [](ShotStage& stage) {
    errorShot(stage, [](PaneRig& rig) { return rig.pane->internetNotReachableError(); });
}, kTestbed);

HW_SHOT("pane.update-bar", [](ShotStage& stage) {
    auto& rig = stage.window<PaneRig>();
    rig.rig->controller->showUpdateAvailableNotificationBar();
    rig.settle();
    stage.advanceAnimations(1000);
}, kTestbed);

HW_SHOT("pane.server-bars", [](ShotStage& stage) {
    auto& rig = stage.window<PaneRig>();
    auto top = std::make_shared<TopNotificationBarModel>("50% off", "https://havenway.test/offer",
                                                         "Spring sale: 50% off every plan this week", "tip");
    auto bottom = std::make_shared<BottomNotificationBarModel>("Invite friends", "https://havenway.test/invite",
                                                               "Invite friends and get a month free", nullptr);
    rig.rig->controller->refreshTopNotificationBar(top, bottom);
    rig.pane->showTopNotificationBar(PaneTopBar::server);
    rig.settle();
    stage.advanceAnimations(1000);
}, kTestbed);

HW_SHOT("pane.connect-popover", [](ShotStage& stage) {
    auto& rig = stage.window<PaneRig>();
    stage.afterShown([&rig] {
        if (ConnectButtonCallbacks::onMouseHoverDelayedCallback) ConnectButtonCallbacks::onMouseHoverDelayedCallback();
    });
    stage.advanceAnimations(500);
}, kTestbed);

// The two-line bar on its own, slid into place.
class TopBarAreaWindow final : public QWidget {
public:
    TopBarAreaWindow() {
        resize(520, 140);
        setStyleSheet("background: #25272a;");
        bar = new ManViewErrorTopBar(this);
        bar->setGeometry(0, 20, 520, 60);
        auto* upper = new QLabel(bar);
        upper->setGeometry(16, 8, 488, 20);
        upper->setStyleSheet("color: #7a1d1d; font-weight: bold; background: transparent;");
        auto* lower = new QLabel(bar);
        lower->setGeometry(16, 30, 488, 20);
        lower->setStyleSheet("color: #7a1d1d; background: transparent;");
        controller = std::make_unique<TopBarNotificationAreaController>(*bar, *upper, *lower);
        controller->calculateFrames();
        bar->hide();
        controller->showErrorNotification(LocaleData::helper_tool_command_execute_error_upper(),
                                          LocaleData::helper_tool_command_execute_error_lower());
        move(80, 80);
        show();
    }
    ManViewErrorTopBar* bar;
    std::unique_ptr<TopBarNotificationAreaController> controller;
};

HW_SHOT("pane.top-bar-area", [](ShotStage& stage) {
    stage.window<TopBarAreaWindow>();
    stage.advanceAnimations(1000);
});

}  // namespace
}  // namespace hw::shots
