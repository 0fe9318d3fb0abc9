#include "app/welcome_window_port_adapter.h"

#include <QFile>
#include <QShortcut>

#include "platform/log.h"

namespace hw {

void installQuitShortcut(QWidget& window, std::function<void()> onQuit) {
    auto* shortcut = new QShortcut(QKeySequence::Quit, &window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, &window, [onQuit = std::move(onQuit)] {
        if (onQuit) onQuit();
    });
}

std::optional<std::string> readBundledOnBoardingPages() {
    // The resource lives in the controllers' library; make sure it is registered.
    WelcomeWindowWidget::registerResources();
    QFile file(QStringLiteral(":/onboarding/pages.json"));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll().toStdString();
}

WelcomeWindowPortAdapter::WelcomeWindowPortAdapter(const BaseControllerContext& context, ShellCommands& shell)
    : widget_(std::make_unique<WelcomeWindowWidget>()) {
    controller_ = std::make_unique<WelcomeWindowViewController>(
        context, *widget_, *widget_, WelcomeDependencies{shell, readBundledOnBoardingPages});
    widget_->pageAt = [this](std::size_t index) -> std::optional<OnBoardingPage> {
        auto& item = controller_->viewControllerForIdentifier(controller_->identifierForObject(index));
        return item.customView;
    };
    controller_->onWindowClosedNotification = [this](BaseWindowViewController&) {
        if (onWindowClosedNotification) onWindowClosedNotification();
    };
}

WelcomeWindowPortAdapter::~WelcomeWindowPortAdapter() {
    controller_.reset();
    widget_->setCloseHandler(nullptr);
}

void WelcomeWindowPortAdapter::showWindow() {
    controller_->showWindow();
    // Process tests and support logs look for the first window on screen.
    log::info("Welcome", "shown");
}

}  // namespace hw
