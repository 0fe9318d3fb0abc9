#pragma once
// Recording doubles of what the application delegate is built on. Every
// double writes its calls into one shared journal, so tests see the order.
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "support/recording_intents.h"
#include "support/fake_user_notification_center.h"

namespace hw::test {

using Journal = std::vector<std::string>;

inline std::string bit(bool value) { return value ? "1" : "0"; }

class RecordingWindow : public virtual ShellWindowPort {
public:
    RecordingWindow(std::string name, Journal& journal) : name(std::move(name)), journal(journal) {}
    void showWindow() override { note("show"); visible = true; }
    void orderFront() override { note("orderFront"); visible = true; }
    void orderOut() override { note("orderOut"); visible = false; }
    void close() override {
        note("close");
        visible = false;
        if (onWindowClosedNotification) onWindowClosedNotification();
    }
    bool isVisible() const override { return visible; }
    void note(const std::string& what) {
        journal.push_back(name + "." + what);
        if (throwOn == what) throw std::runtime_error(name + " failed to " + what);
    }
    std::string name;
    Journal& journal;
    bool visible = false;
    std::string throwOn;
};

class RecordingAuthWindow final : public RecordingWindow, public AuthWindowPort {
public:
    using RecordingWindow::RecordingWindow;
    void setPendingLoginData(const std::optional<LoginData>&) override { note("pendingLoginData"); }
    void setupAfterOpening() override { note("setupAfterOpening"); }
    void closeWholeWindow(bool signMeIn) override { note("closeWholeWindow:" + bit(signMeIn)); visible = false; }
    void updateCreateNewAccountLink() override { note("updateCreateNewAccountLink"); }
    void showInternetConnectionIsUnavailableNotification() override { note("internetUnavailable"); }
    void setIsInSignUpCompletedState(bool value) override { note("signUpCompleted:" + bit(value)); }
    bool isShowingEnterprisePage() const override { return enterprisePage; }
    void startEnterpriseLogin(const std::string& user, const std::string& password) override {
        note("startEnterpriseLogin:" + user + "/" + password);
    }
    std::optional<WindowFrame> frame() const override { return WindowFrame{10, 20, 300, 400}; }
    void onDataLoadFailed() override { note("onDataLoadFailed"); }
    void setRestoringAccount(bool value) override {
        if (value != restoring) note("restoring:" + bit(value));
        restoring = value;
    }
    void showAccountNotRestored(const std::string& why) override { note("accountNotRestored:" + why); }
    bool userHasActed() const override { return acted; }
    bool enterprisePage = false;
    bool restoring = false;
    bool acted = false;
};

class RecordingMainWindow : public RecordingWindow, public MainWindowPort {
public:
    using RecordingWindow::RecordingWindow;
    std::optional<WindowFrame> shownFrame() const override {
        return visible ? std::optional<WindowFrame>(frameShown) : std::nullopt;
    }
    void placeAt(const WindowFrame& f) override {
        note("placeAt:" + std::to_string(int(f.x)) + "," + std::to_string(int(f.y)) + "," + std::to_string(int(f.width)) +
             "," + std::to_string(int(f.height)));
    }
    WindowFrame frameShown{};
    void selectLocation(const std::shared_ptr<LocationsListItemModel>&, bool skip) override {
        note("selectLocation:" + bit(skip));
    }
    void showUpdateAvailableNotificationBar() override { note("showUpdateBar"); }
    void showWiFiInsecureNotification() override { note("showWiFiInsecureNotification"); }
    void showConnectedToWiFiNotification() override { note("showConnectedToWiFiNotification"); }
    void prepareMainViewAfterSettingsViewBeenClosed() override { note("afterSettingsClosed"); }
    void closeConnectButtonPopover() override { note("closeConnectButtonPopover"); }
    void dropConnectButtonHover() override { note("dropConnectButtonHover"); }
    void hideAutoReconnectOverlay() override { note("hideAutoReconnectOverlay"); }
    DetailsPanePort* detailsController() override { return details; }
    void setupMainView(const std::shared_ptr<LocationsListModel>&, const VPNConnectionDetailsCallbacks& c) override {
        note("setupMainView");
        callbacks = c;
    }
    void onLatestSmartWidgetDataLoadedWithData(const std::shared_ptr<SmartWidgetData>&) override {
        note("smartWidgetData");
    }
    void refreshTopNotificationBar(const std::shared_ptr<TopNotificationBarModel>& t,
                                   const std::shared_ptr<BottomNotificationBarModel>& b) override {
        note("refreshTopNotificationBar");
        bars = {t, b};
    }
    std::pair<std::shared_ptr<TopNotificationBarModel>, std::shared_ptr<BottomNotificationBarModel>> bars;
    void autoUpdateSheetDidEnd() override { note("autoUpdateSheetDidEnd"); }
    bool connectButtonIsInDisconnectOrEmptyState() override { return disconnectShown; }
    void performIntentionalDisconnect() override { note("performIntentionalDisconnect"); }
    DetailsPanePort* details = nullptr;
    VPNConnectionDetailsCallbacks callbacks;
    bool disconnectShown = false;
};

class RecordingSettingsWindow final : public RecordingWindow, public SettingsWindowPort {
public:
    using RecordingWindow::RecordingWindow;
    void centerOnScreen() override { note("center"); }
    void setupComponents() override { note("setupComponents"); }
    void selectPane(const std::string& identifier) override { note("selectPane:" + identifier); }
};

// Holds each question until the test answers it.
class RecordingAlerts final : public ShellAlertPresenter {
public:
    explicit RecordingAlerts(Journal& journal) : journal(journal) {}
    void present(ShellWindowPort* parent, const ShellAlert& alert, std::function<void(int)> done) override {
        const auto* window = dynamic_cast<RecordingWindow*>(parent);
        journal.push_back("alert:" + alert.messageText + "@" + (window ? window->name : "app-modal"));
        informativeTexts.push_back(alert.informativeText);
        pending.push_back(std::move(done));
    }
    void answer(int code) {
        auto done = std::move(pending.front());
        pending.erase(pending.begin());
        done(code);
    }
    Journal& journal;
    std::vector<std::function<void(int)>> pending;
    std::vector<std::string> informativeTexts;
};

class FakeShellServices final : public ShellServices {
public:
    explicit FakeShellServices(Journal& journal) : journal(journal) {}
    void note(const std::string& what) {
        journal.push_back(what);
        if (throwOn == what) throw std::runtime_error(what + " failed");
    }
    void prepareConnectionManager() override { note("prepareConnectionManager"); }
    RecordingIntents intents{[this](const std::string& what) { note(what); }};
    ConnectionIntents* connectionIntents() override { return &intents; }
    void terminatePreviousOpenVPNProcesses() override { note("terminatePreviousOpenVPNProcesses"); }
    void adoptOrEndLeftoverTunnel(bool) override { note("adoptOrEndLeftoverTunnel"); }
    void disableNetworkLock() override { note("disableNetworkLock"); }
    void keepNetworkLockLeftFromEarlierRun() override { note("keepNetworkLockLeftFromEarlierRun"); }
    void cleanUpSessionAndNotifyDisconnected() override { note("cleanUpSessionAndNotifyDisconnected"); }
    void disconnect() override { note("disconnect"); }
    void prepareForTermination(std::function<void()> done) override {
        note("prepareForTermination");
        terminationDone = std::move(done);
    }
    void onDeviceWillSleep() override { note("onDeviceWillSleep"); }
    void onDeviceDidWake() override { note("onDeviceDidWake"); }
    void stopReachability() override { note("stopReachability"); }
    void clearAllReachabilityObservers() override { note("clearAllReachabilityObservers"); }
    void watchInsecureWiFi(const std::string& host, std::function<void()> onInsecure) override {
        note("watchInsecureWiFi:" + host);
        insecure = std::move(onInsecure);
    }
    void initParse() override { note("initParse"); }
    void trackAppOpened() override { note("trackAppOpened"); }
    bool parseConfigNeedsFetch() override { return configNeedsFetch; }
    void applyCachedParseConfig(std::function<void()> completion) override {
        note("applyCachedParseConfig");
        completion();
    }
    void restoreLoginData(std::function<void(std::optional<LoginData>)> done) override {
        note("restoreLoginData");
        if (holdRestore) heldRestore = std::move(done);
        else done(std::nullopt);
    }
    // A keyring slow to answer: the answer waits until the test gives it.
    bool holdRestore = false;
    std::string restoreFailureText;
    std::string restoreFailure() override { return restoreFailureText; }
    std::function<void(std::optional<LoginData>)> heldRestore;
    void logOut() override { note("logOut"); }
    void clearEnterpriseCookies() override { note("clearEnterpriseCookies"); }
    void requestAuthToken(const std::string& code, std::function<void(const std::string&)> done) override {
        note("requestAuthToken:" + code);
        done("token-of-" + code);
    }
    void requestClientID(const std::string& token,
                         std::function<void(const std::string&, const std::string&)> done) override {
        note("requestClientID:" + token);
        done("vpnuser", "vpnpass");
    }
    void sendAnalyticsEvent(const std::string& name, const std::optional<std::map<std::string, std::string>>&) override {
        note("analytics:" + name);
    }
    void sendExceptionReport(const std::string&, const std::string& type) override { note("report:" + type); }

    // Records each registration as "wire:<call>" and keeps the observers.
    class Wiring final : public ShellReachabilityWiring {
    public:
        explicit Wiring(FakeShellServices& s) : s_(s) {}
        void stopReachability() override { s_.note("wire:stop"); }
        void addOnInternetNotReachableObserver(std::function<void()> o) override {
            s_.note("wire:notReachable");
            s_.notReachable.push_back(std::move(o));
        }
        void addOnInternetReachableObserver(std::function<void()> o) override {
            s_.note("wire:reachable");
            s_.reachable.push_back(std::move(o));
        }
        void clearOnWiFiConnectionINSECUREObservers() override { s_.note("wire:clearInsecure"); }
        void addOnWiFiConnectionINSECUREObserver(std::function<void()>) override { s_.note("wire:insecure"); }
        void addOnConnectedToWiFiNetworkObserver(std::function<void()>) override { s_.note("wire:connectedToWiFi"); }
        void reach(const std::string& host) override { s_.note("wire:reach:" + host); }

    private:
        FakeShellServices& s_;
    };
    std::shared_ptr<ShellReachabilityWiring> reachabilityWiring() override {
        return hasReachability ? std::make_shared<Wiring>(*this) : nullptr;
    }
    void prepareAfterDataLoaded() override { note("prepareAfterDataLoaded"); }
    void onInternetConnectionLost() override { note("onInternetConnectionLost"); }
    std::optional<std::string> currentSessionToken() override { return sessionToken; }
    void requestSmartWidgetData(const std::string& token, std::function<void(SmartWidgetReply)> done,
                                std::function<void(const std::string&)>) override {
        note("requestSmartWidgetData:" + token);
        widgetRequests.push_back(std::move(done));
    }
    // Kept out of the journal: the answer is what the tests follow.
    void requestNotificationBars(NotificationBarsDone done) override { barRequests.push_back(std::move(done)); }
    std::vector<NotificationBarsDone> barRequests;

    Journal& journal;
    std::string throwOn;
    bool hasReachability = true;
    bool configNeedsFetch = false;
    std::optional<std::string> sessionToken = "r:session";
    std::vector<std::function<void()>> notReachable, reachable;
    std::vector<std::function<void(SmartWidgetReply)>> widgetRequests;
    std::function<void()> terminationDone, insecure;
};

class RecordingStatusItem final : public StatusItemView {
public:
    bool isShown() const override { return true; }
    void setImage(const std::string& name) override { images.push_back(name); }
    void setMenu(const MenuPtr& m) override { menu = m; }
    std::vector<std::string> images;
    MenuPtr menu;
};

}  // namespace hw::test
