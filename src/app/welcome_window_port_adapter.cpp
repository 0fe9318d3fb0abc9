#include "app/welcome_window_port_adapter.h"

#include <QFile>
#include <QShortcut>

namespace hw {

void installQuitShortcut(QWidget& window, std::function<void()> onQuit) {
    auto* shortcut = new QShortcut(QKeySequence::Quit, &window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, &window, [onQuit = std::move(onQuit)] {
        if (onQuit) onQuit();
    });
}

std::optional<std::string> readBundledOnBoardingPages() {
    // The resource lives in the windows' library; make sure it is registered.
    WelcomeWindowWidget::registerResources();
    QFile file(QStringLiteral(":/onboarding/pages.json"));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll().toStdString();
}

WelcomeWindowPortAdapter::WelcomeWindowPortAdapter(const BaseControllerContext& context, ShellCommands& shell)
    : ControllerWindowPort("Welcome") {
    adopt(std::make_unique<WelcomeWindowViewController>(context, widget(), widget(),
                                                        WelcomeDependencies{shell, readBundledOnBoardingPages}));
    widget().pageAt = [this](std::size_t index) -> std::optional<OnBoardingPage> {
        return controller().viewControllerForIdentifier(controller().identifierForObject(index)).customView;
    };
}

}  // namespace hw
