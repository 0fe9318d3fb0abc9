#include <algorithm>
#include <cctype>

#include "app/app_delegate.h"
#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

constexpr char kLog[] = "AppDelegate";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-decoding of a query part; a broken escape makes the part unusable.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

struct ParsedURL {
    std::string scheme;
    std::string host;
    std::optional<std::string> query;
};

// Enough of RFC 3986 for the application's own URLs.
std::optional<ParsedURL> parseURL(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    ParsedURL url;
    url.scheme = text.substr(0, colon);
    if (!std::all_of(url.scheme.begin(), url.scheme.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'; }))
        return std::nullopt;
    if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20; }))
        return std::nullopt;
    std::string rest = text.substr(colon + 1);
    if (const auto hash = rest.find('#'); hash != std::string::npos) rest.resize(hash);
    if (const auto q = rest.find('?'); q != std::string::npos) {
        url.query = rest.substr(q + 1);
        rest.resize(q);
    }
    if (rest.rfind("//", 0) == 0) {
        std::string authority = rest.substr(2, rest.find('/', 2) == std::string::npos ? std::string::npos
                                                                                       : rest.find('/', 2) - 2);
        if (const auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
        if (const auto port = authority.find(':'); port != std::string::npos) authority.resize(port);
        url.host = authority;
    }
    return url;
}

}  // namespace

// --- URLs ---

std::optional<std::string> AppDelegate::getCodeValueFromURL(const std::string& text) {
    const auto url = parseURL(text);
    if (!url || !url->query) return std::nullopt;
    std::string_view query = *url->query;
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        const auto eq = item.find('=');
        if (auto name = percentDecoded(item.substr(0, eq)); name && *name == "code") {
            if (eq == std::string_view::npos) return std::nullopt;
            return percentDecoded(item.substr(eq + 1));
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

void AppDelegate::handleURL(const std::string& url) { handleURLEvent(url); }

void AppDelegate::handleURLEvent(const std::optional<std::string>& text) {
    if (!env_.handlesURLs) {
        log::info(kLog, "application URL ignored: not an enterprise build");
        return;
    }
    if (!text || text->empty()) {
        log::info(kLog, "No valid URL to handle");
        return;
    }
    const auto url = parseURL(*text);
    if (!url || url->scheme != "havenway" || url->host != "oauth") return;
    const auto code = getCodeValueFromURL(*text);
    // An empty code is no code; one that comes while the sign-in page is not
    // shown was not asked for.
    if (!code || code->empty()) {
        log::info(kLog, "");
        return;
    }
    if (!windows_.auth->canAcceptEnterpriseCode()) {
        log::warning(kLog, "authorization code arrived while no enterprise sign-in was waiting; ignored");
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    services_.requestAuthToken(*code, [this, alive](const std::string& token) {
        if (alive.expired()) return;
        log::info(kLog, "access token arrived");
        services_.requestClientID(token, [this, alive](const std::string& username, const std::string& password) {
            if (!alive.expired()) windows_.auth->startEnterpriseLogin(username, password);
        });
    });
}

// --- reopen and process mode ---

std::vector<ShellWindowPort*> AppDelegate::allWindows() const {
    std::vector<ShellWindowPort*> all{windows_.auth.get(), windows_.main.get(), windows_.locations.get(),
                                      welcomeWindowController_.get(), settingsWindowController_.get(),
                                      freeTrialSignUpWindowController_.get()};
    std::erase(all, nullptr);
    return all;
}

bool AppDelegate::hasVisibleWindows() const {
    const auto windows = allWindows();
    return std::any_of(windows.begin(), windows.end(), [](const ShellWindowPort* w) { return w->isVisible(); });
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    log::info(kLog, "applicationShouldHandleReopen");
    guarded([&] {
        if (!hasVisibleWindows) showCurrentWindow();
        changeAppToBeNormalApp();
    });
    return true;
}

void AppDelegate::showCurrentWindow() {
    if (!currentWindowController_) return;
    if (currentWindowController_ == settingsWindowController_.get()) {
        windows_.main->showWindow();
    } else if (currentWindowController_ == openedOffScreen_) {
        openedOffScreen_ = nullptr;
        currentWindowController_->orderFront();
    } else {
        currentWindowController_->showWindow();
    }
    if (!model().startMinimized) return;
    model().startMinimized = false;
    // A start minimised into the tray held the widget's refresh back.
    if (model().isLoggedInUser && !hasSmartWidgetScheduleUpdateTimer()) sheduleNextSmartWidgetUpdate();
}

bool AppDelegate::MakeAppBackground() {
    if (!env_.statusItemShown || !env_.statusItemShown()) {
        log::warning(kLog, "TranformAppToState: no status item to stay in; staying a normal application");
        return false;
    }
    hiddenForBackground_.clear();
    for (ShellWindowPort* w : allWindows()) {
        if (w->isVisible()) {
            hiddenForBackground_.push_back(w);
            w->orderOut();
        }
    }
    return true;
}

bool AppDelegate::MakeAppForeground() {
    auto hidden = std::move(hiddenForBackground_);
    hiddenForBackground_.clear();
    // Each comes back as it was left: its opening does not run again.
    for (ShellWindowPort* w : hidden) {
        if (w != currentWindowController_) w->orderFront();
    }
    // Shown last, so it is the active one.
    if (currentWindowController_ &&
        (currentWindowController_->isVisible() ||
         std::find(hidden.begin(), hidden.end(), currentWindowController_) != hidden.end()))
        currentWindowController_->orderFront();
    // Started hidden (or every window closed): coming forward is the user's
    // ask for a window, so one shows.
    if (!hasVisibleWindows()) showCurrentWindow();
    return true;
}

void AppDelegate::changeAppToBeUserAgent() {
    if (!env_.statusItemShown || !env_.statusItemShown()) {
        log::warning(kLog, "status-bar-only mode refused: no status item shows");
        return;
    }
    model().setIsAppInUserAgentMode(true);
    MakeAppBackground();
    notifyAppModeChangeSubscribers();
}

void AppDelegate::changeAppToBeNormalApp() {
    model().setIsAppInUserAgentMode(false);
    MakeAppForeground();
    notifyAppModeChangeSubscribers();
}

void AppDelegate::addAppModeChangeNotification(std::function<void()> subscriber) {
    appModeChangeNotification_.push_back(std::move(subscriber));
}
void AppDelegate::clearAppModeChangeNotifications() { appModeChangeNotification_.clear(); }
void AppDelegate::notifyAppModeChangeSubscribers() {
    // A subscriber may add another; the new one hears the next change.
    const auto subscribers = appModeChangeNotification_;
    for (const auto& s : subscribers) {
        if (s) s();
    }
}

// --- quit ---

void AppDelegate::performQuitApplicationFromStatusBar() {
    quitAppInitiatedFromStatusBar_ = true;
    terminate();
}

void AppDelegate::quitApplicationRequested() { showQuitApplicationConfirmationPopup(); }

void AppDelegate::quitKeyPressed() { terminate(); }

void AppDelegate::terminateWithoutQuestion() { performQuitApplicationFromStatusBar(); }

void AppDelegate::terminate() {
    if (terminating_) return;
    if (applicationShouldTerminate()) applicationWillTerminate();
}

void AppDelegate::showQuitApplicationConfirmationPopup() {
    const auto& m = model();
    const bool protecting = m.isConnectedToVPN || m.networkLockActivated ||
                            m.currentConnectionState() != ConnectionStates::disconnected;
    ShellAlert alert{LocaleData::quit_app_confirmation_popup_title(),
                     protecting ? LocaleData::quit_app_confirmation_popup_text()
                                : LocaleData::quit_app_confirmation_popup_idle_text(),
                     LocaleData::quit_app_confirmation_popup_quit_button(),
                     LocaleData::quit_app_confirmation_popup_cancel_button()};
    confirQuitApplicationPopupShown_ = true;
    log::info(kLog, "asking: " + alert.messageText);
    std::weak_ptr<bool> alive = alive_;
    // Without a current window the question is application-modal, so it is
    // still asked and answered.
    alerts_.present(currentWindowController_, alert, [this, alive](int code) {
        if (alive.expired()) return;
        log::info(kLog, std::to_string(code));
        if (code == ShellAlertPresenter::kFirstButton) {
            quitAppInitiatedFromStatusBar_ = true;
            terminate();
            confirQuitApplicationPopupShown_ = false;
        } else if (code == ShellAlertPresenter::kSecondButton) {
            log::info(kLog, "NSAlertSecondButtonReturn");
            confirQuitApplicationPopupShown_ = false;
        }
    });
}

bool AppDelegate::lastWindowMayClose() {
    if (terminating_) return true;
    if (env_.statusItemShown && env_.statusItemShown()) {
        // Nothing is left on screen but the tray: the application lives
        // there now, and its menu offers the way back to the window.
        liveInTheTray();
        return true;
    }
    log::info(kLog, "the last window closes with no tray item to come back by");
    if (!confirQuitApplicationPopupShown_) showQuitApplicationConfirmationPopup();
    return false;
}

void AppDelegate::liveInTheTray() {
    if (model().isAppInUserAgentMode()) return;
    model().setIsAppInUserAgentMode(true);
    notifyAppModeChangeSubscribers();
}

bool AppDelegate::applicationShouldTerminate() {
    if (env_.isEnterpriseVersion) guarded([this] { services_.clearEnterpriseCookies(); });
    if (quitAppInitiatedFromStatusBar_) {
        quitAppInitiatedFromStatusBar_ = false;
        return true;
    }
    if (confirQuitApplicationPopupShown_) {
        quitAppInitiatedFromStatusBar_ = false;
        return true;
    }
    // With no status item the application cannot hide there: ask instead.
    if (!env_.statusItemShown || !env_.statusItemShown()) {
        showQuitApplicationConfirmationPopup();
        return false;
    }
    model().setIsAppInUserAgentMode(true);
    MakeAppBackground();
    notifyAppModeChangeSubscribers();
    return false;
}

void AppDelegate::applicationWillTerminate() {
    terminating_ = true;
    guarded([this] { rememberMainWindowPlace(); });
    // Each step on its own: a failure in one must not leave openvpn or the
    // kill switch behind.
    guarded([this] { services_.stopReachability(); });
    bool handedOver = false;
    std::weak_ptr<bool> alive = alive_;
    guarded([&] {
        services_.prepareForTermination([this, alive] {
            if (!alive.expired()) finishTermination();
        });
        handedOver = true;
    });
    guarded([this] { notifications_.removeAllDeliveredNotifications(); });
    if (!handedOver) finishTermination();
}

void AppDelegate::finishTermination() {
    if (exited_) return;
    exited_ = true;
    log::info(kLog, "applicationWillTerminate complitely finished.");
    if (env_.exitProcess) env_.exitProcess(0);
}

}  // namespace hw
