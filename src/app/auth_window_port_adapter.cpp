#include "app/auth_window_port_adapter.h"

#include <QShortcut>

#include "platform/log.h"

namespace hw {

AuthWindowPortAdapter::AuthWindowPortAdapter(AuthWindowAssembly assembly) : assembly_(std::move(assembly)) {}

AuthWindowPortAdapter::~AuthWindowPortAdapter() {
    controller_.reset();
    if (widget_) widget_->setCloseHandler(nullptr);
}

void AuthWindowPortAdapter::attach(ShellCommands& shell) { shell_ = &shell; }

void AuthWindowPortAdapter::setQuitHandler(std::function<void()> handler) { onQuitKey_ = std::move(handler); }

void AuthWindowPortAdapter::make() {
    if (widget_) return;
    widget_ = std::make_unique<AuthWindowWidget>(assembly_.settings, assembly_.makeEnterprisePage);
    if (onQuitKey_) {
        auto* shortcut = new QShortcut(QKeySequence::Quit, widget_.get());
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, widget_.get(), [handler = onQuitKey_] { handler(); });
    }
    if (!shell_) return;
    controller_ = std::make_unique<AuthWindowViewController>(
        assembly_.context, *widget_, *widget_,
        AuthWindowDependencies{assembly_.authService, assembly_.linksManager, assembly_.mainQueue, *shell_,
                               assembly_.enterpriseAuthService, assembly_.settings, assembly_.freeTrialService},
        assembly_.isEnterpriseVersion);
    controller_->onWindowClosedNotification = [this](BaseWindowViewController&) {
        if (onWindowClosedNotification) onWindowClosedNotification();
    };
}

AuthWindowWidget& AuthWindowPortAdapter::widget() {
    make();
    return *widget_;
}

AuthWindowViewController* AuthWindowPortAdapter::controller() {
    if (shell_) make();
    return controller_.get();
}

void AuthWindowPortAdapter::with(const char* what, const std::function<void(AuthWindowViewController&)>& call) {
    if (shell_) {
        make();
        call(*controller_);
    } else {
        log::warning("LoginView", std::string(what) + " before the login window was attached; ignored");
    }
}

void AuthWindowPortAdapter::ifMade(const std::function<void(AuthWindowViewController&)>& call) {
    if (controller_) call(*controller_);
}

bool AuthWindowPortAdapter::isVisible() const { return widget_ && widget_->isVisible(); }
AlertView* AuthWindowPortAdapter::sheetAlerts() { return widget_ ? &widget_->alerts() : nullptr; }
std::optional<WindowFrame> AuthWindowPortAdapter::frame() const {
    // A window never shown has no place yet: its geometry is the screen's
    // corner, where the next window would otherwise be put.
    if (!widget_ || !widget_->isVisible()) return std::nullopt;
    return widget_->frame();
}

void AuthWindowPortAdapter::showWindow() {
    with("showWindow", [](AuthWindowViewController& c) { c.showWindow(); });
}
void AuthWindowPortAdapter::orderFront() {
    with("orderFront", [](AuthWindowViewController& c) { c.orderFront(); });
}
void AuthWindowPortAdapter::orderOut() {
    with("orderOut", [](AuthWindowViewController& c) { c.orderOut(); });
}
void AuthWindowPortAdapter::close() {
    ifMade([](AuthWindowViewController& c) { c.close(); });
}
void AuthWindowPortAdapter::setPendingLoginData(const std::optional<LoginData>& data) {
    with("pendingLoginData", [&data](AuthWindowViewController& c) { c.pendingLoginData = data; });
}
void AuthWindowPortAdapter::setupAfterOpening() {
    with("setupAfterOpening", [](AuthWindowViewController& c) { c.setupAfterOpening(); });
}
void AuthWindowPortAdapter::closeWholeWindow(bool signMeIn) {
    ifMade([signMeIn](AuthWindowViewController& c) { c.closeWholeWindow(signMeIn); });
}
void AuthWindowPortAdapter::updateCreateNewAccountLink() {
    // A window made later reads the link when it loads.
    ifMade([](AuthWindowViewController& c) { c.updateCreateNewAccountLink(); });
}
void AuthWindowPortAdapter::showInternetConnectionIsUnavailableNotification() {
    with("no-internet notice",
         [](AuthWindowViewController& c) { c.showInternetConnectionIsUnavailableNotification(); });
}
void AuthWindowPortAdapter::setIsInSignUpCompletedState(bool value) {
    // A window made later starts outside that state.
    if (!value && !controller_) return;
    with("isInSignUpCompletedState", [value](AuthWindowViewController& c) { c.setIsInSignUpCompletedState(value); });
}
bool AuthWindowPortAdapter::isShowingEnterprisePage() const {
    return controller_ && controller_->isShowingEnterprisePage();
}
void AuthWindowPortAdapter::startEnterpriseLogin(const std::string& username, const std::string& password) {
    with("startEnterpriseLogin", [&](AuthWindowViewController& c) { c.startEnterpriseLogin(username, password); });
}
bool AuthWindowPortAdapter::canAcceptEnterpriseCode() const {
    return controller_ && controller_->canAcceptEnterpriseCode();
}
void AuthWindowPortAdapter::onDataLoadFailed() {
    with("onDataLoadFailed", [](AuthWindowViewController& c) { c.onDataLoadFailed(); });
}
void AuthWindowPortAdapter::setRestoringAccount(bool restoring) {
    with("restoringAccount", [restoring](AuthWindowViewController& c) { c.setRestoringAccount(restoring); });
}
void AuthWindowPortAdapter::showAccountNotRestored(const std::string& why) {
    with("accountNotRestored", [why](AuthWindowViewController& c) { c.showAccountNotRestoredNotification(why); });
}
bool AuthWindowPortAdapter::userHasActed() const { return controller_ && controller_->userHasActed(); }

}  // namespace hw
