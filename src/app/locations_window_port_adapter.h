#pragma once
#include <functional>
#include <memory>

#include "app/shell_window_ports.h"
#include "controllers/locations_list_window_view_controller.h"

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
};

// The shell's port onto the locations window's controller: forwards, nothing more.
class LocationsWindowPortAdapter final : public ShellWindowPort {
public:
    explicit LocationsWindowPortAdapter(LocationsWindowAdapterParts parts);
    ~LocationsWindowPortAdapter() override;

    void showWindow() override { controller_->showWindow(); }
    void orderOut() override { controller_->orderOut(); }
    void close() override { controller_->close(); }
    bool isVisible() const override;
    AlertView* sheetAlerts() override;

    // What the main window hands its list and moves to.
    LocationsWindow& locationsWindow() { return *controller_; }
    LocationsListWindowViewController& controller() { return *controller_; }
    LocationsListWindowWidget& widget() { return *widget_; }

private:
    LocationsWindowAdapterParts parts_;
    std::unique_ptr<RemoteImageLoader> images_;
    std::unique_ptr<LocationsListWindowWidget> widget_;
    std::shared_ptr<LocationsListWindowViewController> controller_;
};

}  // namespace hw
