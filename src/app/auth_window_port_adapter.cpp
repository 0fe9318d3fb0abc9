#include "app/auth_window_port_adapter.h"

#include <QShortcut>

#include "platform/log.h"

namespace hw {

AuthWindowPortAdapter::AuthWindowPortAdapter(AuthWindowAssembly assembly)
    : assembly_(std::move(assembly)),
      widget_(std::make_unique<AuthWindowWidget>(assembly_.settings, assembly_.makeEnterprisePage)) {}

AuthWindowPortAdapter::~AuthWindowPortAdapter() {
    controller_.reset();
    widget_->setCloseHandler(nullptr);
}

void AuthWindowPortAdapter::attach(ShellCommands& shell) {
    controller_ = std::make_unique<AuthWindowViewController>(
        assembly_.context, *widget_, *widget_,
        AuthWindowDependencies{assembly_.authService, assembly_.linksManager, assembly_.mainQueue, shell,
                               assembly_.enterpriseAuthService, assembly_.settings, assembly_.freeTrialService},
        assembly_.isEnterpriseVersion);
    controller_->onWindowClosedNotification = [this](BaseWindowViewController&) {
        if (onWindowClosedNotification) onWindowClosedNotification();
    };
}

void AuthWindowPortAdapter::setQuitHandler(std::function<void()> handler) {
    auto* shortcut = new QShortcut(QKeySequence::Quit, widget_.get());
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, widget_.get(), [handler = std::move(handler)] {
        if (handler) handler();
    });
}

void AuthWindowPortAdapter::with(const char* what, const std::function<void(AuthWindowViewController&)>& call) {
    if (controller_) {
        call(*controller_);
    } else {
        log::warning("LoginView", std::string(what) + " before the login window was attached; ignored");
    }
}

void AuthWindowPortAdapter::showWindow() {
    with("showWindow", [](AuthWindowViewController& c) { c.showWindow(); });
}
void AuthWindowPortAdapter::orderOut() {
    with("orderOut", [](AuthWindowViewController& c) { c.orderOut(); });
}
void AuthWindowPortAdapter::close() {
    with("close", [](AuthWindowViewController& c) { c.close(); });
}
void AuthWindowPortAdapter::setPendingLoginData(const std::optional<LoginData>& data) {
    with("pendingLoginData", [&data](AuthWindowViewController& c) { c.pendingLoginData = data; });
}
void AuthWindowPortAdapter::setupAfterOpening() {
    with("setupAfterOpening", [](AuthWindowViewController& c) { c.setupAfterOpening(); });
}
void AuthWindowPortAdapter::closeWholeWindow(bool signMeIn) {
    with("closeWholeWindow", [signMeIn](AuthWindowViewController& c) { c.closeWholeWindow(signMeIn); });
}
void AuthWindowPortAdapter::updateCreateNewAccountLink() {
    with("updateCreateNewAccountLink", [](AuthWindowViewController& c) { c.updateCreateNewAccountLink(); });
}
void AuthWindowPortAdapter::showInternetConnectionIsUnavailableNotification() {
    with("no-internet notice",
         [](AuthWindowViewController& c) { c.showInternetConnectionIsUnavailableNotification(); });
}
void AuthWindowPortAdapter::setIsInSignUpCompletedState(bool value) {
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

}  // namespace hw
