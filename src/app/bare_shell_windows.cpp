#include "app/bare_shell_windows.h"

#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>

#include "platform/log.h"

namespace hw {

BareShellWindow::BareShellWindow(const std::string& title, const std::string& placeholder) : title_(title) {
    window_.setTitle("Havenway — " + title);
    auto* layout = new QVBoxLayout(&window_);
    auto* label = new QLabel(QString::fromStdString(placeholder), &window_);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    layout->addWidget(label);
    window_.resize(420, 300);
}

BareShellWindow::~BareShellWindow() { window_.setCloseHandler(nullptr); }

void BareShellWindow::showWindow() {
    window_.show();
    note("shown");
}

void BareShellWindow::setQuitHandler(std::function<void()> handler) {
    // Some desktops' themes bind no quit key; Ctrl+Q is what users expect there.
    const auto bound = QKeySequence::keyBindings(QKeySequence::Quit);
    auto* shortcut = new QShortcut(bound.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Q) : bound.front(), &window_);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, &window_, [handler = std::move(handler)] {
        if (handler) handler();
    });
}

void BareShellWindow::note(const std::string& what) const { log::info("ShellWindow", title_ + ": " + what); }

BareAuthWindow::BareAuthWindow() : BareShellWindow("Sign in", "The sign-in window comes here.") {}

std::optional<WindowFrame> BareAuthWindow::frame() const {
    return window().frame();
}

BareMainWindow::BareMainWindow() : BareShellWindow("Havenway", "The main window with the map comes here.") {}

BareSettingsWindow::BareSettingsWindow() : BareShellWindow("Settings", "The settings come here.") {}

ShellWindows makeBareShellWindows(std::function<void()> onQuitKey) {
    auto wire = [onQuitKey](auto window) {
        window->setQuitHandler(onQuitKey);
        // The window's own close reaches the shell as the close notification.
        auto* port = window.get();
        port->window().setCloseHandler([port] {
            if (port->onWindowClosedNotification) port->onWindowClosedNotification();
        });
        return window;
    };
    ShellWindows windows;
    windows.auth = wire(std::make_unique<BareAuthWindow>());
    windows.main = wire(std::make_unique<BareMainWindow>());
    windows.locations = wire(std::make_unique<BareShellWindow>("Locations", "The locations list comes here."));
    windows.makeWelcome = [wire] {
        return wire(std::make_unique<BareShellWindow>("Welcome", "The welcome pages come here."));
    };
    windows.makeSettings = [wire] { return wire(std::make_unique<BareSettingsWindow>()); };
    windows.makeSignUp = [wire] {
        return wire(std::make_unique<BareShellWindow>("Create account", "The account sign-up comes here."));
    };
    return windows;
}

}  // namespace hw
