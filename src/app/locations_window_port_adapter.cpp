#include "app/locations_window_port_adapter.h"

#include <QGuiApplication>
#include <QPointer>
#include <QShortcut>
#include <QWidget>
#include <QWindow>
#include <utility>

#include "windows/locations/widgets/locations_list_window_widget.h"
#include "windows/main/main_window_view_controller.h"
#include "windows/shared/remote_image_loader.h"

namespace hw {

namespace {

// Minimizes the list with the main window and brings it back with it, for
// window managers that do not do so for a transient window themselves.
class MinimizedWithMain : public QObject {
public:
    MinimizedWithMain(QWidget& main, QWidget& list) : main_(&main), list_(&list) {
        main.installEventFilter(this);
    }
    ~MinimizedWithMain() override {
        if (main_) main_->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != main_ || event->type() != QEvent::WindowStateChange || !list_) return false;
        if (main_->isMinimized() && list_->isVisible() && !list_->isMinimized()) {
            list_->showMinimized();
            minimizedHere_ = true;
        } else if (!main_->isMinimized() && minimizedHere_) {
            minimizedHere_ = false;
            if (list_->isMinimized()) list_->showNormal();
        }
        return false;
    }

private:
    QPointer<QWidget> main_;
    QPointer<QWidget> list_;
    bool minimizedHere_ = false;
};

}  // namespace

LocationsWindowPortAdapter::LocationsWindowPortAdapter(LocationsWindowAdapterParts parts) : parts_(std::move(parts)) {}

LocationsWindowPortAdapter::~LocationsWindowPortAdapter() {
    // The controller lets go of the view before the view goes.
    controller_.reset();
    follower_.reset();
}

LocationsListWindowViewController& LocationsWindowPortAdapter::made() {
    if (controller_) return *controller_;
    images_ = std::make_unique<RemoteImageLoader>(parts_.queue, parts_.background, parts_.codec);
    widget_ = std::make_unique<LocationsListWindowWidget>(*images_);
    if (parts_.onQuitKey) {
        auto* shortcut = new QShortcut(QKeySequence::Quit, widget_.get());
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, widget_.get(), [quit = parts_.onQuitKey] { quit(); });
    }
    auto main = parts_.main;
    LocationsListWindowEnvironment env{
        BaseControllerContext{parts_.model, parts_.analytics, parts_.urlOpener},
        *widget_,
        *widget_,
        parts_.queue,
        [main]() -> LocationsWindowMain* { return main ? main() : nullptr; },
        [main]() -> std::shared_ptr<DetailsPane> {
            auto* controller = main ? main() : nullptr;
            return controller ? controller->detailsViewController() : nullptr;
        },
        // A Wayland client cannot place its own windows.
        !QGuiApplication::platformName().startsWith(QLatin1String("wayland")),
        [main]() -> ConnectionIntents* {
            auto* controller = main ? main() : nullptr;
            return controller ? &controller->connectionIntents() : nullptr;
        }};
    controller_ = std::make_shared<LocationsListWindowViewController>(std::move(env));
    controller_->onWindowClosedNotification = [this](BaseWindowViewController&) {
        if (onWindowClosedNotification) onWindowClosedNotification();
    };
    if (tableData_) controller_->updateTableData(std::exchange(tableData_, nullptr));
    return *controller_;
}

void LocationsWindowPortAdapter::followMainWindow() {
    if (follower_ || !parts_.mainWidget) return;
    QWidget* main = parts_.mainWidget();
    if (!main) return;
    // Transient for the main window: window managers keep it above that one,
    // where a small screen makes them overlap, and minimize it along.
    main->winId();
    widget_->winId();
    if (main->windowHandle() && widget_->windowHandle()) widget_->windowHandle()->setTransientParent(main->windowHandle());
    follower_ = std::make_unique<MinimizedWithMain>(*main, *widget_);
}

LocationsListWindowWidget& LocationsWindowPortAdapter::widget() {
    made();
    return *widget_;
}

bool LocationsWindowPortAdapter::isVisible() const { return widget_ && widget_->isVisible(); }

AlertView* LocationsWindowPortAdapter::sheetAlerts() { return widget_ ? &widget_->alerts() : nullptr; }

void LocationsWindowPortAdapter::updateTableData(const std::shared_ptr<LocationsListModel>& model) {
    if (controller_) controller_->updateTableData(model);
    else tableData_ = model;
}

void LocationsWindowPortAdapter::selectLocation(const std::shared_ptr<LocationsListItemModel>& location,
                                               bool skipFlagAnimation) {
    // A window made later selects the pane's location as it loads.
    if (controller_) controller_->selectLocation(location, skipFlagAnimation);
}

void LocationsWindowPortAdapter::onMainWindowMoved(const WindowFrame& mainWindowFrame) {
    if (controller_) controller_->onMainWindowMoved(mainWindowFrame);
}

}  // namespace hw
