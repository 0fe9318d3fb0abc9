#pragma once
// A details pane that records what the windows ask of it.
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "windows/details_pane/details_pane.h"

namespace hw::test {

class RecordingDetailsPane : public DetailsPane {
public:
    std::vector<std::string> calls;
    std::function<void()> deactivateTable;
    std::function<void()> activateTable;
    std::optional<VPNConnectionDetailsCallbacks> callbacks;
    std::shared_ptr<LocationsListItemModel> shown;
    bool connected = false;
    ConnectButtonStates buttonState = ConnectButtonStates::connect;
    std::string errorBarText;
    std::vector<std::string> errorBars;
    bool updateBar = false;
    std::optional<bool> viewHidden;
    ApplicationModel* model = nullptr;  // when set, attempts are written through

    void reachabilityChanged(bool reachable) override {
        calls.push_back(std::string("reachabilityChanged:") + (reachable ? "1" : "0"));
    }
    void requestReconnect(ReconnectReason reason) override {
        calls.push_back(std::string("requestReconnect:") + reconnectReasonName(reason));
    }
    void refreshIPAddressIfBlank() override { calls.push_back("refreshIPAddressIfBlank"); }
    void showAutoReconnectOverlay() override { calls.push_back("showAutoReconnectOverlay"); }
    void hideAutoReconnectOverlay() override { calls.push_back("hideAutoReconnectOverlay"); }
    void setDeactivateTableCallback(std::function<void()> c) override { deactivateTable = std::move(c); }
    void setActivateTableCallback(std::function<void()> c) override { activateTable = std::move(c); }
    void setupDetailViewComponents() override { calls.push_back("setupDetailViewComponents"); }
    void setDefaultButtonLabel() override { calls.push_back("setDefaultButtonLabel"); }
    void setConnectionDetailsCallbacks(const VPNConnectionDetailsCallbacks& c) override {
        callbacks = c;
        calls.push_back("setConnectionDetailsCallbacks");
    }
    void prepareConnectionStatusNotifications() override { calls.push_back("prepareConnectionStatusNotifications"); }
    void updateIPAddress(const std::optional<std::string>& a) override {
        calls.push_back(a ? "updateIPAddress:" + *a : "updateIPAddress:nil");
    }
    void changeDetailsView(const std::shared_ptr<LocationsListItemModel>& location) override {
        shown = location;
        calls.push_back("changeDetailsView");
    }
    std::shared_ptr<LocationsListItemModel> dataObject() const override { return shown; }
    void performConnectAction() override { calls.push_back("performConnectAction"); }
    bool isConnectedToVPN() const override { return connected; }
    bool byWiFiSecurity = false;
    ConnectButtonStates connectButtonState() const override { return buttonState; }
    bool secureNetworkJoined() override {
        calls.push_back("secureNetworkJoined");
        return byWiFiSecurity;
    }
    void onDisconnectedStateNotification(bool force, bool skip) override {
        calls.push_back(std::string("onDisconnectedStateNotification:") + (force ? "1" : "0") + (skip ? "1" : "0"));
    }
    void setConnectButtonTo_Disconnected_state() override { calls.push_back("setConnectButtonTo_Disconnected_state"); }
    void prepareToConnectingState(bool a, bool b) override {
        calls.push_back(std::string("prepareToConnectingState:") + (a ? "1" : "0") + (b ? "1" : "0"));
    }
    void startConnectionRequest() override { calls.push_back("startConnectionRequest"); }
    void showErrorNotificationBar(const std::string& text) override {
        errorBarText = "upper:" + text;
        errorBars.push_back(text);
    }
    void hideErrorNotificationBar() override {
        errorBarText.clear();
        calls.push_back("hideErrorNotificationBar");
    }
    std::string internetNotReachableError() const override { return "no internet"; }
    std::string errorTopBarUpperText() const override { return errorBarText; }
    std::string internetNotReachableErrorUpperText() const override { return "upper:no internet"; }
    void setupTopNotificationBar(const std::shared_ptr<TopNotificationBarModel>&,
                                 const std::shared_ptr<BottomNotificationBarModel>&) override {
        calls.push_back("setupTopNotificationBar");
    }
    bool hasUpdateTopNotificationBar() const override { return updateBar; }
    void showUpdateTopNotificationBar() override { calls.push_back("showUpdateTopNotificationBar"); }
    void showConnectButtonPopover() override { calls.push_back("showConnectButtonPopover"); }
    void closeConnectButtonPopover() override { calls.push_back("closeConnectButtonPopover"); }
    void dropConnectButtonHover() override { calls.push_back("dropConnectButtonHover"); }
    void setViewHidden(bool hidden) override { viewHidden = hidden; }
    void updateHandCursors() override { calls.push_back("updateHandCursors"); }

    int count(const std::string& call) const { return static_cast<int>(std::count(calls.begin(), calls.end(), call)); }
};

}  // namespace hw::test
