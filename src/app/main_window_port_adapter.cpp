#include "app/main_window_port_adapter.h"

#include <QPoint>

#include <QEvent>
#include <QShortcut>
#include <QWidget>
#include <functional>
#include <optional>
#include <stdexcept>

#include "connection/vpn_connection_manager.h"
#include "hub/service_layer.h"
#include "windows/main/widgets/main_window_widget.h"
#include "windows/shared/pane_engine.h"

namespace hw {
namespace {

// Tells whether a window is on the screen: shown and not minimised.
class OnScreenWatch final : public QObject {
public:
    OnScreenWatch(QWidget& window, std::function<void(bool)> changed) : window_(window), changed_(std::move(changed)) {
        window_.installEventFilter(this);
        report();
    }
    ~OnScreenWatch() override { window_.removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        const auto type = event->type();
        if (type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange) report();
        return false;
    }

private:
    void report() {
        const bool onScreen = window_.isVisible() && !window_.isMinimized();
        if (onScreen == last_) return;
        last_ = onScreen;
        changed_(onScreen);
    }
    QWidget& window_;
    std::function<void(bool)> changed_;
    std::optional<bool> last_;
};

}  // namespace

MainWindowPortAdapter::MainWindowPortAdapter(MainWindowAdapterParts parts) : parts_(std::move(parts)) {}

MainWindowWidget& MainWindowPortAdapter::widget() {
    if (widget_) return *widget_;
    images_ = std::make_unique<RemoteImageLoader>(parts_.queue, parts_.background, parts_.codec);
    widget_ = std::make_unique<MainWindowWidget>(*images_);
    if (parts_.onQuitKey) {
        auto* shortcut = new QShortcut(QKeySequence::Quit, widget_.get());
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, widget_.get(), [quit = parts_.onQuitKey] { quit(); });
    }
    return *widget_;
}

MainWindowPortAdapter::~MainWindowPortAdapter() {
    // The controller lets go of the view before the view goes.
    controller_.reset();
    onScreenWatch_.reset();
}

MainWindowViewController& MainWindowPortAdapter::controller() {
    if (controller_) return *controller_;
    ShellCommands* shell = parts_.shell ? parts_.shell() : nullptr;
    if (!shell) throw std::logic_error("the main window is used before the shell exists");
    auto& hub = parts_.hub;
    if (!hub.vpnConnectionManager() || !hub.linksManager()) {
        throw std::logic_error("the main window needs the hub's connection manager and links");
    }
    widget();
    engine_ = std::make_unique<VPNConnectionManagerPaneEngine>(*hub.vpnConnectionManager());
    // The pane's clock is the only one on screen: hidden in the tray, the
    // application does not wake each second for it.
    onScreenWatch_ = std::make_unique<OnScreenWatch>(
        *widget_, [engine = engine_.get()](bool onScreen) { engine->setSessionClockShown(onScreen); });
    MainWindowEnvironment env{BaseControllerContext{hub.appModel(), parts_.analytics, parts_.urlOpener},
                              *widget_,
                              *widget_,
                              parts_.queue,
                              parts_.clock,
                              *shell,
                              parts_.notifications,
                              *hub.linksManager(),
                              hub.probeURLHelper(),
                              [&hub] { return hub.wi_fi_InfoHelper(); },
                              *engine_,
                              *images_,
                              parts_.locationsWindow,
                              nullptr,
                              parts_.isEnterpriseVersion};
    if (parts_.makeDetailsPane) {
        env.makeDetailsPane = [this] { return parts_.makeDetailsPane(*widget_); };
    } else {
        env.makeDetailsPane = [this] { return makeRealDetailsPane(); };
    }
    controller_ = std::make_shared<MainWindowViewController>(std::move(env));
    controller_->onWindowClosedNotification = [this](BaseWindowViewController&) {
        if (onWindowClosedNotification) onWindowClosedNotification();
    };
    return *controller_;
}

bool MainWindowPortAdapter::isVisible() const { return widget_ && widget_->isVisible(); }

// The corner is the window manager's frame's, as move() takes it: a client
// corner given back before the first showing would land a title bar lower.
std::optional<WindowFrame> MainWindowPortAdapter::shownFrame() const {
    if (!isVisible()) return std::nullopt;
    const QPoint corner = widget_->pos();
    return WindowFrame{double(corner.x()), double(corner.y()), double(widget_->width()), double(widget_->height())};
}

void MainWindowPortAdapter::placeAt(const WindowFrame& frame) {
    placed_ = true;
    // Kept within the screen it lands on.
    controller().window().setFrame(frame);
    widget_->move(widget_->geometry().topLeft());
}

void MainWindowPortAdapter::placeOnce() {
    if (placed_) return;
    placed_ = true;
    controller().window().center();
}

AlertView* MainWindowPortAdapter::sheetAlerts() { return widget_ ? &widget_->alerts() : nullptr; }

void MainWindowPortAdapter::hideAutoReconnectOverlay() {
    if (auto& pane = controller().detailsViewController()) pane->hideAutoReconnectOverlay();
}

bool MainWindowPortAdapter::connectButtonIsInDisconnectOrEmptyState() {
    auto& manager = parts_.hub.vpnConnectionManager();
    if (!manager) return false;
    const ConnectionIntent intent = manager->connectionLife().primaryIntent();
    return intent == ConnectionIntent::disconnect || intent == ConnectionIntent::cancel;
}

void MainWindowPortAdapter::performIntentionalDisconnect() {
    // Only the pane's window starts tunnels: without it there is none to end.
    if (!controller_) return;
    if (auto& pane = controller_->detailsViewController()) pane->performIntentionalDisconnect();
}

DetailsPanePort* MainWindowPortAdapter::detailsController() {
    return controller_ ? controller_->detailsViewController().get() : nullptr;
}

}  // namespace hw
