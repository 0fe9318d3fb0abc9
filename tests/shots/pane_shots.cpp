// The details pane's states over the main window, on the demo account's data.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>
#include <stdexcept>

#include "demo_rig.h"
#include "services/notification_bar_models.h"
#include "texts/locale_data.h"
#include "view/top_bar/notification_bar_views.h"
#include "view/top_bar/top_bar_notification_area_controller.h"
#include "windows/details_pane/main_view_details_area_controller.h"
#include "windows/details_pane/widgets/main_view_details_view.h"

namespace hw::shots {
namespace {

// The main window with the real pane on a scripted engine; itself never shown.
class PaneRig final : public QWidget {
public:
    PaneRig() {
        rig = signedInDemo();
        DemoPane made;
        openWithRealPane(*rig, made);
        view = made.view;
        pane = made.pane;
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
        // The connection the scripted engine reports runs over OpenVPN.
        rig->engine.providerType = VPNTypesOpenVPN;
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

// A state of the pane, then this much of the animations' time before the picture.
void paneShot(const char* name, int ms, std::function<void(PaneRig&)> state = nullptr) {
    addShot(name, [=](ShotStage& stage) {
        auto& rig = stage.window<PaneRig>();
        if (state) state(rig);
        rig.settle();
        stage.advanceAnimations(ms);
    }, true);
}

std::function<void(PaneRig&)> error(std::function<std::string(PaneRig&)> text) {
    return [=](PaneRig& rig) { rig.pane->showErrorNotificationBar(text(rig)); };
}

HW_SHOTS({
    paneShot("pane.ready", 1000);
    paneShot("pane.connecting", 400, [](PaneRig& rig) {
        rig.pane->performConnectAction();
        rig.settle(300);
        rig.rig->engine.closures.connecting();
    });
    paneShot("pane.connected", 2000, [](PaneRig& rig) { rig.connect(); });
    // As before the first connect: the engine's own report of the end is
    // stale by then, and never sent.
    paneShot("pane.after-disconnect", 2000, [](PaneRig& rig) {
        rig.connect();
        rig.settle(1100);  // the button takes no click within a second of the last
        rig.pane->performConnectAction();
        rig.settle(300);
        if (rig.pane->connectButtonState() != ConnectButtonStates::connect)
            throw std::runtime_error("the button did not come back to Connect");
    });
    paneShot("pane.reconnecting-killswitch", 2000, [](PaneRig& rig) {
        rig.connect();
        rig.rig->hub->appModel().networkLockActivated = true;
        rig.rig->engine.closures.disconnected(false, false);
    });
    // The link lost: the card's label says so whole.
    paneShot("pane.waiting-for-network", 2000, [](PaneRig& rig) {
        rig.connect();
        rig.pane->reachabilityChanged(false);
        rig.settle();
        if (rig.pane->connectionLife().state() != ConnectionLife::State::waitingForNetwork)
            throw std::runtime_error("the pane does not wait for the network");
    });
    // Under the kill switch the lock hides the network's return: the tries go on.
    paneShot("pane.link-lost-killswitch", 2000, [](PaneRig& rig) {
        rig.connect();
        rig.rig->hub->appModel().networkLockActivated = true;
        rig.pane->reachabilityChanged(false);
        rig.settle();
        if (rig.pane->connectionLife().state() == ConnectionLife::State::waitingForNetwork)
            throw std::runtime_error("the pane waits for a return it cannot see");
    });
    paneShot("pane.error-short", 1000, error([](PaneRig&) { return LocaleData::vpn_ppp_error_new_3(); }));
    paneShot("pane.error-long", 1000, error([](PaneRig&) {
        return std::string("The server did not answer in time. Check your network settings and try another "
                           "protocol, or contact support.");
    }));
    paneShot("pane.error-pick-location", 1000, error([](PaneRig&) { return LocaleData::vpn_ppp_error_new_1(); }));
    paneShot("pane.no-internet", 1000, error([](PaneRig& rig) { return rig.pane->internetNotReachableError(); }));
    paneShot("pane.update-bar", 1000, [](PaneRig& rig) { rig.rig->controller->showUpdateAvailableNotificationBar(); });
    // The lock held after a refused try, the bottom bar lifting the card: both
    // lines stand clear of it.
    // Reached as a user reaches it: a try refused under the kill switch.
    paneShot("pane.killswitch-held", 1000, [](PaneRig& rig) {
        showDemoBars(*rig.rig);
        rig.rig->hub->appModel().setUseNetworkLock(true);
        rig.rig->engine.providerType = VPNTypesOpenVPN;
        rig.pane->performConnectAction();
        rig.settle(300);
        if (rig.rig->engine.locks.empty()) throw std::runtime_error("the lock was never asked for");
        rig.rig->engine.locks.front().completion("203.0.113.9");
        rig.settle();
        rig.rig->engine.closures.refused(LocaleData::vpn_ppp_error_new_4());
        rig.rig->engine.closures.disconnected(false, false);
        rig.settle(300);
        if (!rig.pane->lockHeld()) throw std::runtime_error("the lock does not hold");
    });
    paneShot("pane.server-bars", 1000, [](PaneRig& rig) {
        rig.rig->controller->refreshTopNotificationBar(
            std::make_shared<TopNotificationBarModel>("50% off", "https://havenway.test/offer",
                                                      "Spring sale: 50% off every plan this week", "tip"),
            std::make_shared<BottomNotificationBarModel>("Invite friends", "https://havenway.test/invite",
                                                         "Invite friends and get a month free", nullptr));
    });
    // The demo account's own bars from the testbed, the bottom one with its icon.
    paneShot("pane.bottom-bar", 1000, [](PaneRig& rig) {
        showDemoBars(*rig.rig);
        rig.settle(300);
    });
});

HW_SHOT("pane.connect-popover", [](ShotStage& stage) {
    stage.window<PaneRig>();
    stage.afterShown([] {
        if (ConnectButtonCallbacks::onMouseHoverDelayedCallback) ConnectButtonCallbacks::onMouseHoverDelayedCallback();
    });
    stage.advanceAnimations(500);
}, true);

// Reached with Tab: the ring goes round the update bar's "here" alone, and
// no Tab stops at the demo account's bar under it.
HW_SHOT("pane.update-bar-focus", [](ShotStage& stage) {
    auto& rig = stage.window<PaneRig>();
    showDemoBars(*rig.rig);
    rig.settle(300);
    rig.rig->controller->showUpdateAvailableNotificationBar();
    rig.settle(300);
    stage.afterShown([&rig] {
        QWidget* window = rig.view->window();
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window, 2000);
        QWidget* link = nullptr;
        for (auto* bar : rig.view->findChildren<UpgradeAvailableNotificationsBar*>()) link = bar->linkButton();
        for (int stop = 0; stop < 30 && QApplication::focusWidget() != link; ++stop) {
            QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            if (focus && qobject_cast<MainViewTopNotificationArea*>(focus->parentWidget()))
                throw std::runtime_error("Tab reached a control of the bar under the update bar");
        }
        if (QApplication::focusWidget() != link) throw std::runtime_error("Tab never reached the update link");
    });
    stage.advanceAnimations(1000);
}, true);

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
