#pragma once
// A locations window that records what the main window hands it.
#include <memory>
#include <vector>

#include "windows/locations/locations_window.h"

namespace hw::test {

class RecordingLocationsWindow : public LocationsWindow {
public:
    std::vector<std::shared_ptr<LocationsListModel>> lists;
    std::vector<std::pair<std::shared_ptr<LocationsListItemModel>, bool>> selections;
    std::vector<WindowFrame> mainWindowFrames;
    bool opened = false;

    void updateTableData(const std::shared_ptr<LocationsListModel>& model) override { lists.push_back(model); }
    void selectLocation(const std::shared_ptr<LocationsListItemModel>& location, bool skip) override {
        selections.emplace_back(location, skip);
    }
    bool windowOpened() const override { return opened; }
    void onMainWindowMoved(const WindowFrame& frame) override { mainWindowFrames.push_back(frame); }
};

}  // namespace hw::test
