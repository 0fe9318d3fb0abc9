#include <sstream>

#include "platform/log.h"
#include "windows/main/main_window_view_controller.h"

namespace hw {

namespace {
constexpr char kLog[] = "MainWindow";
}

void MainWindowViewController::setLoadedBackgroundImage(ImagePtr image) {
    loadedBackgroundImage_ = std::move(image);
    if (isWindowLoaded() && loadedBackgroundImage_) {
        env_.view.setMapImage(loadedBackgroundImage_);
    } else {
        pendingLoadedBackgroundImage_ = true;
    }
}

void MainWindowViewController::updateMainViewMapImage() {
    if (!isWindowLoaded()) return;
    if (pendingLoadedBackgroundImage_) {
        loadedBackgroundImage_ = model().mainViewMapImage;
        if (!loadedBackgroundImage_) return;  // still on its way: stays pending
        env_.view.setMapImage(loadedBackgroundImage_);
        pendingLoadedBackgroundImage_ = false;
    }
    if (pendingFlagImagePlacementRequest_ && loadedBackgroundImage_) {
        flagPlacementProcessing(true);
    }
}

void MainWindowViewController::flagPlacementProcessing(bool animate) {
    later(0, [animate](MainWindowViewController& self) {
        if (!self.isWindowLoaded()) {
            self.pendingFlagImagePlacementRequest_ = true;
            return;
        }
        const auto& map = self.loadedBackgroundImage_;
        const auto size = self.env_.view.mapViewSize();
        auto drawn = map ? drawnMapRect(size.width, size.height, map->width, map->height) : std::nullopt;
        // Nothing to measure yet: the next map image or resize places the flag.
        if (!drawn) {
            self.pendingFlagImagePlacementRequest_ = true;
            return;
        }
        self.pendingFlagImagePlacementRequest_ = false;
        self.placeFlagInPosition(drawn->startX, drawn->startY, drawn->width, drawn->height, !animate);
    });
}

void MainWindowViewController::placeFlagInPosition(double startX, double startY, double imageWidth,
                                                   double imageHeight, bool skipAnimation) {
    const auto& location = model().currentLocation();
    if (!location) return;
    if (!isUsableFlagFraction(location->flag_px) || !isUsableFlagFraction(location->flag_py)) {
        log::info(kLog, "location.flag_px == nil || location.flag_py == nil");
        return;
    }
    auto placement = flagPlacement(DrawnMap{startX, startY, imageWidth, imageHeight}, location->flag_px,
                                   location->flag_py);
    if (!placement) return;
    std::ostringstream where;
    where << "flag at " << *location->flag_px << ", " << *location->flag_py;
    log::debug(kLog, where.str());
    env_.view.placeFlag(loadedFlagImage_, *placement);
    flagShown_ = true;
    if (!skipAnimation) animateFlagAppearing();
}

void MainWindowViewController::animateFlagAppearing() {
    if (model().autoReconnectInProgress()) return;
    env_.view.animateFlagAppearing();
}

void MainWindowViewController::startAnimateFlagConnectionProgress() {
    log::debug(kLog, "startAnimateFlagConnectionProgress()");
    if (model().autoReconnectInProgress()) return;
    env_.view.setFlagLoadingIndicatorSpinning(true);
}

void MainWindowViewController::stopAnimateFlagConnectionProgress() {
    log::debug(kLog, "stopAnimateFlagConnectionProgress()");
    env_.view.setFlagLoadingIndicatorSpinning(false);
}

void MainWindowViewController::onMapViewResized() {
    // The flag is laid out from the view's size: follow it, without the pop-in.
    if (pendingFlagImagePlacementRequest_ || flagShown_) flagPlacementProcessing(false);
}

}  // namespace hw
