#pragma once
#include <memory>

#include "core/application_model_ports.h"

namespace hw {

class LocationsListModel;
class LocationsListItemModel;

// The locations window, as the main window uses it. Main thread only.
class LocationsWindow {
public:
    virtual ~LocationsWindow() = default;
    // The shared list, handed over whenever the main window gets or replaces it.
    virtual void updateTableData(const std::shared_ptr<LocationsListModel>& model) = 0;
    // Keeps both windows on the same choice.
    virtual void selectLocation(const std::shared_ptr<LocationsListItemModel>& location, bool skipFlagAnimation) = 0;
    virtual bool windowOpened() const = 0;
    // The main window's frame while it is dragged.
    virtual void onMainWindowMoved(const WindowFrame& mainWindowFrame) = 0;
};

}  // namespace hw
