#pragma once
#include <functional>
#include <string>

namespace hw {

class LocationsListItemModel;

// What the details pane shows, mirrored into the tray menu. All five start
// empty; the fire helpers skip a closure that was never installed.
struct VPNConnectionDetailsCallbacks {
    std::function<void(const std::string&)> onIPaddressUpdatedCallback;
    std::function<void(const std::string&)> onConnectionStatusUpdatedCallback;
    std::function<void(const std::string&)> onConnectButtonStateChangedCallback;
    std::function<void(const LocationsListItemModel&)> onChosenLocationChangedCallback;
    std::function<void(const std::string&)> onVPNProtocolUpdatedCallback;

    void fireIPaddressUpdated(const std::string& address) const {
        if (onIPaddressUpdatedCallback) onIPaddressUpdatedCallback(address);
    }
    void fireConnectionStatusUpdated(const std::string& status) const {
        if (onConnectionStatusUpdatedCallback) onConnectionStatusUpdatedCallback(status);
    }
    void fireConnectButtonStateChanged(const std::string& state) const {
        if (onConnectButtonStateChangedCallback) onConnectButtonStateChangedCallback(state);
    }
    void fireChosenLocationChanged(const LocationsListItemModel& location) const {
        if (onChosenLocationChangedCallback) onChosenLocationChangedCallback(location);
    }
    void fireVPNProtocolUpdated(const std::string& protocol) const {
        if (onVPNProtocolUpdatedCallback) onVPNProtocolUpdatedCallback(protocol);
    }
};

}  // namespace hw
