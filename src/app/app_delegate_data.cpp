// Data loading after a sign-in and the information widget's refresh.
#include "app/app_delegate.h"
#include "core/try_catch_finally.h"
#include "platform/log.h"
#include "services/notification_bar_models.h"

namespace hw {
namespace {
constexpr char kLog[] = "AppDelegate";
}

void AppDelegate::loadApplicationData() {
    std::weak_ptr<bool> alive = alive_;
    // The hub may answer from any thread: everything after goes through the
    // main queue.
    hub_.loadRequiredData(
        [this, alive] {
            log::info(kLog, "all data has been loaded!");
            queue_.post([this, alive] {
                if (!alive.expired()) onApplicationDataLoaded();
            });
        },
        [this, alive](const std::string& error) {
            queue_.post([this, alive, error] {
                if (alive.expired()) return;
                log::warning(kLog, "required data failed to load: " + error);
                model().isLoggedInUser = false;
                windows_.auth->onDataLoadFailed();
            });
        });
}

void AppDelegate::onApplicationDataLoaded() {
    guarded([this] {
        guarded([this] { setupMenuBarMenu(); });
        const VPNConnectionDetailsCallbacks callbacks = menuBarMenuController_->connectionDetailsCallbacks;
        windows_.main->setupMainView(model().locationsListModel(), callbacks);
        hideAuthWindow();
        openMainWindow();
        services_.prepareAfterDataLoaded();
    });
    onDataLoaded_postProcessing();
}

void AppDelegate::setupMenuBarMenu() {
    menuBarMenuController_->locationsListModel = model().locationsListModel();
    menuBarMenuController_->prepareMenu();
    statusItemMenu_ = menuBarMenuController_->menus().menuBarMenu;
    if (env_.statusItem) env_.statusItem->setMenu(statusItemMenu_);
    currentDockMenu_ = menuBarMenuController_->menus().dockMenu;
}

void AppDelegate::onDataLoaded_postProcessing() {
    std::weak_ptr<bool> alive = alive_;
    // One task, so the watch sees the registrations in this order.
    queue_.post([this, alive] {
        if (alive.expired()) return;
        auto wiring = services_.reachabilityWiring();
        if (!wiring) {
            log::warning(kLog, "no reachability watch: the main window and the menus do not follow the internet");
            return;
        }
        auto whileAlive = [alive](std::function<void()> f) {
            return [alive, f = std::move(f)] {
                if (!alive.expired()) f();
            };
        };
        MainWindowPort& main = *windows_.main;
        wiring->stopReachability();
        wiring->addOnInternetNotReachableObserver(whileAlive([&main] { main.showNoOnternetConnectionOverlay(); }));
        wiring->addOnInternetReachableObserver(whileAlive([&main] { main.hideNoOnternetConnectionOverlay(); }));
        wiring->clearOnWiFiConnectionINSECUREObservers();
        wiring->addOnWiFiConnectionINSECUREObserver(whileAlive([&main] { main.showWiFiInsecureNotification(); }));
        wiring->addOnConnectedToWiFiNetworkObserver(whileAlive([&main] { main.showConnectedToWiFiNotification(); }));
        wiring->addOnInternetNotReachableObserver(whileAlive([this] { services_.onInternetConnectionLost(); }));
        wiring->addOnInternetNotReachableObserver(whileAlive([this] { onInternetNotReachable_menus(); }));
        wiring->addOnInternetReachableObserver(whileAlive([this] { onInternetReachable_menus(); }));
        wiring->addOnRoutesChangedObserver(whileAlive([this] { services_.onRoutesChanged(); }));
        wiring->reach(model().reachabilityDomainName);
    });
    loadNotificationBars();
    hub_.syncVPNAcccountDetails([this, alive] {
        if (alive.expired()) return;
        loadSmartWidgetData();
        if (!(model().startMinimized && model().isAppInUserAgentMode())) {
            queue_.post([this, alive] {
                if (!alive.expired()) sheduleNextSmartWidgetUpdate();
            });
        }
    });
}

void AppDelegate::loadSmartWidgetData() {
    const auto token = services_.currentSessionToken();
    if (!token) return;
    std::weak_ptr<bool> alive = alive_;
    services_.requestSmartWidgetData(
        *token,
        [this, alive](SmartWidgetReply reply) {
            if (alive.expired()) return;
            log::info(kLog, "smartWidgetData loading");
            windows_.main->onLatestSmartWidgetDataLoadedWithData(model().makeSmartWidgetData(
                std::move(reply.link), std::move(reply.title), std::move(reply.image), std::move(reply.subtitle),
                std::move(reply.link_text)));
        },
        [](const std::string& reason) {
            if (!reason.empty()) log::warning(kLog, reason);
        });
}

void AppDelegate::loadNotificationBars() {
    std::weak_ptr<bool> alive = alive_;
    services_.requestNotificationBars([this, alive](std::shared_ptr<TopNotificationBarModel> top,
                                                    std::shared_ptr<BottomNotificationBarModel> bottom) {
        queue_.post([this, alive, top = std::move(top), bottom = std::move(bottom)] {
            // A sign-out meanwhile leaves the bars of the next account alone.
            if (alive.expired() || !model().isLoggedInUser) return;
            model().bottomNotificaitonBar = bottom;
            windows_.main->refreshTopNotificationBar(top, bottom);
        });
    });
}

void AppDelegate::sheduleNextSmartWidgetUpdate() {
    // A second sign-in must not leave a second chain running.
    stopSheduleNextSmartWidgetUpdateTimer();
    std::weak_ptr<bool> alive = alive_;
    smartWidgetScheduleUpdateTimer_ =
        queue_.startTimer(model().SMART_WIDGET_UPDATE_CHECK_INTERVAL() * 1000.0, false, [this, alive] {
            if (alive.expired()) return;
            syncAccountAnd_loadSmartWidgetData();
        });
}

void AppDelegate::syncAccountAnd_loadSmartWidgetData() {
    std::weak_ptr<bool> alive = alive_;
    hub_.syncVPNAcccountDetails([this, alive] {
        if (alive.expired()) return;
        const int r = env_.random ? env_.random(30) : 0;
        log::info(kLog, "syncAccountAnd_loadSmartWidgetData -- randomTime: " + std::to_string(r));
        queue_.postAfter(r * 1000.0, [this, alive] {
            if (alive.expired()) return;
            loadSmartWidgetData();
            loadNotificationBars();
        });
    });
    if (!(model().startMinimized && model().isAppInUserAgentMode())) {
        queue_.post([this, alive] {
            if (!alive.expired()) sheduleNextSmartWidgetUpdate();
        });
    } else {
        // Not from inside the timer's own firing.
        queue_.post([this, alive] {
            if (!alive.expired()) stopSheduleNextSmartWidgetUpdateTimer();
        });
    }
}

void AppDelegate::stopSheduleNextSmartWidgetUpdateTimer() {
    if (smartWidgetScheduleUpdateTimer_) smartWidgetScheduleUpdateTimer_->cancel();
    smartWidgetScheduleUpdateTimer_.reset();
}

}  // namespace hw
