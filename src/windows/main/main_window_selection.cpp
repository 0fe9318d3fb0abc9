#include "windows/main/main_window_view_controller.h"
#include "platform/log.h"

namespace hw {

namespace {
constexpr char kLog[] = "MainWindow";
}

void MainWindowViewController::selectLocation(const LocationsListItemPtr& location, bool skipFlagAnimation) {
    if (!location) return;
    if (!model().useAutomaticLocation()) {
        selectLocationProcessing(location, skipFlagAnimation, false);
        // A row of another list still becomes current; only the table stays.
        if (auto row = table_.rowOfItem(location.get())) env_.view.scrollRowToVisible(*row);
    } else {
        handleAutomaticHeaderTapProcessing(true);
    }
    if (env_.locationsWindow) env_.locationsWindow->selectLocation(location, skipFlagAnimation);
}

void MainWindowViewController::selectLocationProcessing(const LocationsListItemPtr& location, bool skipFlagAnimation,
                                                        bool automaticLocationCall) {
    if (!location) return;
    if (!automaticLocationCall) model().setUseAutomaticLocation(false);
    model().setCurrentLocation(location);
    if (detailsViewController_) detailsViewController_->changeDetailsView(location);
    std::weak_ptr<MainWindowViewController> weak = weak_from_this();
    std::weak_ptr<LocationsListItemModel> weakLocation = location;
    location->onMainViewFlagLoadedCallback = [weak, weakLocation, skipFlagAnimation] {
        auto self = weak.lock();
        auto where = weakLocation.lock();
        if (self && where) self->onMainViewFlagLoaded(where, skipFlagAnimation);
    };
    if (location->main_view_flag) location->onMainViewFlagLoadedCallback();
    table_.selectionChanged();
}

void MainWindowViewController::onMainViewFlagLoaded(const LocationsListItemPtr& location, bool skipFlagAnimation) {
    // A location chosen earlier may still get its flag file: only the current one is placed.
    if (location != model().currentLocation() || !location->main_view_flag) return;
    auto file = location->main_view_flag;
    std::weak_ptr<MainWindowViewController> weak = weak_from_this();
    env_.images.load(file, [weak, location, file, skipFlagAnimation](ImagePtr image) {
        auto self = weak.lock();
        if (!self || location != self->model().currentLocation() || location->main_view_flag != file) return;
        self->loadedFlagImage_ = std::move(image);
        self->flagPlacementProcessing(!skipFlagAnimation);
    });
}

void MainWindowViewController::performConnectCommand() {
    env_.engine.intents().connectOrEnd();
}

void MainWindowViewController::onFlagImageClick() { openLocationsWindow(); }

}  // namespace hw
