#pragma once
#include <functional>
#include <memory>

#include "app/shell_window_ports.h"
#include "windows/locations/locations_list_window_view_controller.h"

class QObject;
class QWidget;

namespace hw {

class ImageCodec;
class LocationsListWindowWidget;
class MainWindowViewController;
class RemoteImageLoader;

// What the locations window is made from in the application.
struct LocationsWindowAdapterParts {
    ApplicationModel& model;
    MainQueue& queue;
    BackgroundQueue& background;
    const ImageCodec& codec;
    URLOpener& urlOpener;
    AnalyticsSink analytics;
    // The main window's controller, once it exists.
    std::function<MainWindowViewController*()> main;
    std::function<void()> onQuitKey;
    // The main window itself, which this one goes with: above it, minimized and restored with it.
    std::function<QWidget*()> mainWidget;
};

// The shell's port onto the locations window's controller, and the main
// window's view of it. The window is made when first shown; until then the
// main window's list is kept for it, and its choice is read from the pane when
// it loads.
class LocationsWindowPortAdapter final : public ShellWindowPort, public LocationsWindow {
public:
    explicit LocationsWindowPortAdapter(LocationsWindowAdapterParts parts);
    ~LocationsWindowPortAdapter() override;

    void showWindow() override {
        made();
        followMainWindow();
        controller_->showWindow();
    }
    void orderOut() override { made().orderOut(); }
    void close() override {
        if (controller_) controller_->close();
    }
    bool isVisible() const override;
    AlertView* sheetAlerts() override;

    void updateTableData(const std::shared_ptr<LocationsListModel>& model) override;
    void selectLocation(const std::shared_ptr<LocationsListItemModel>& location, bool skipFlagAnimation) override;
    bool windowOpened() const override { return controller_ && controller_->windowOpened(); }
    void onMainWindowMoved(const WindowFrame& mainWindowFrame) override;

    // What the main window hands its list and moves to.
    LocationsWindow& locationsWindow() { return *this; }
    LocationsListWindowViewController& controller() { return made(); }
    LocationsListWindowWidget& widget();
    bool isMade() const { return controller_ != nullptr; }

private:
    LocationsListWindowViewController& made();
    void followMainWindow();

    LocationsWindowAdapterParts parts_;
    std::shared_ptr<LocationsListModel> tableData_;
    std::unique_ptr<RemoteImageLoader> images_;
    std::unique_ptr<LocationsListWindowWidget> widget_;
    std::shared_ptr<LocationsListWindowViewController> controller_;
    std::unique_ptr<QObject> follower_;
};

}  // namespace hw
