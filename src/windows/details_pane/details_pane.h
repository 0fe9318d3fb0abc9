#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/application_model_ports.h"
#include "core/vpn_connection_details_callbacks.h"

namespace hw {

class LocationsListItemModel;
class TopNotificationBarModel;
class BottomNotificationBarModel;

// What the connect button offers.
enum class ConnectButtonStates { connect, connecting, disconnect };

// The details pane of the main window, as the main window and the shell use
// it. Main thread only. The main window owns it once its window has loaded.
class DetailsPane : public DetailsPanePort {
public:
    // Set-up, in the order the main window calls them.
    virtual void setDeactivateTableCallback(std::function<void()> callback) = 0;
    virtual void setActivateTableCallback(std::function<void()> callback) = 0;
    virtual void setupDetailViewComponents() = 0;
    virtual void setDefaultButtonLabel() = 0;
    virtual void setConnectionDetailsCallbacks(const VPNConnectionDetailsCallbacks& callbacks) = 0;
    // Installs the engine's connection-state callbacks.
    virtual void prepareConnectionStatusNotifications() = 0;
    virtual void updateIPAddress(const std::optional<std::string>& address) = 0;
    // The internet is back: a public address the outage left blank is
    // looked up again.
    virtual void refreshIPAddressIfBlank() {}

    // The location shown.
    virtual void changeDetailsView(const std::shared_ptr<LocationsListItemModel>& location) = 0;
    virtual std::shared_ptr<LocationsListItemModel> dataObject() const = 0;
    // Connects, cancels or disconnects, as the button offers.
    virtual void performConnectAction() = 0;
    // Ends the attempt or the tunnel on purpose: nothing reconnects.
    virtual void performIntentionalDisconnect() {}

    // Connection state and the reconnect loop.
    virtual bool isConnectedToVPN() const = 0;
    virtual ConnectButtonStates connectButtonState() const = 0;
    // A secure network was joined: Wi-Fi security's own connection ends,
    // whatever its state. False when the connection is not Wi-Fi security's.
    virtual bool secureNetworkJoined() { return false; }
    // The reachability watch's report, for the reconnect policy.
    virtual void reachabilityChanged(bool /*reachable*/) {}
    virtual void onDisconnectedStateNotification(bool forceDisconnect, bool skipUnsecuredWiFiFlagClear) = 0;
    virtual void setConnectButtonTo_Disconnected_state() = 0;
    virtual void prepareToConnectingState(bool skipStatus, bool skipFlagAnimation) = 0;
    // Connects to the location shown.
    virtual void startConnectionRequest() = 0;

    // Bars.
    virtual void showErrorNotificationBar(const std::string& text) = 0;
    virtual void hideErrorNotificationBar() = 0;
    virtual std::string internetNotReachableError() const = 0;
    virtual std::string errorTopBarUpperText() const = 0;
    virtual std::string internetNotReachableErrorUpperText() const = 0;
    virtual void setupTopNotificationBar(const std::shared_ptr<TopNotificationBarModel>& top,
                                         const std::shared_ptr<BottomNotificationBarModel>& bottom) = 0;
    // Nothing happens without an update bar.
    virtual bool hasUpdateTopNotificationBar() const = 0;
    virtual void showUpdateTopNotificationBar() = 0;

    virtual void hideAutoReconnectOverlay() = 0;

    // The hint over the connect button.
    virtual void showConnectButtonPopover() = 0;
    virtual void closeConnectButtonPopover() = 0;
    // The connect button forgets the pointer, as if it had left.
    virtual void dropConnectButtonHover() = 0;

    // The pane's own views.
    virtual void setViewHidden(bool hidden) = 0;
    // Re-applies the hand cursors of the pane's links and buttons.
    virtual void updateHandCursors() = 0;
    // The update sheet over the main window has ended.
    virtual void autoUpdateSheetDidEnd() {}
};

}  // namespace hw
