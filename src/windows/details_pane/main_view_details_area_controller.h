#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/connection_life_host.h"
#include "core/vpn_connection_details_callbacks.h"
#include "platform/main_queue.h"
#include "view/base_controller_context.h"
#include "windows/details_pane/connect_button_model.h"
#include "windows/details_pane/details_pane.h"
#include "windows/details_pane/main_view_details_area_view.h"
#include "windows/shared/pane_engine.h"
#include "windows/shared/shell_commands.h"

namespace hw {

class ApplicationModel;
class LinksManager;
class ProbeURLReachabilityHelper;
class WiFi_InfoHelperObjC;
class InternetReachabilityHelper;
class TopNotificationBarModel;
class BottomNotificationBarModel;
class WindowView;

// What the pane is built on. Each reference must outlive the pane.
struct MainViewDetailsEnvironment {
    BaseControllerContext context;
    MainViewDetailsAreaView& view;
    MainQueue& queue;
    PaneEngine& engine;
    ShellCommands& shell;
    LinksManager* links = nullptr;
    // Each may answer none.
    std::function<std::shared_ptr<ProbeURLReachabilityHelper>()> probe{};
    std::function<std::shared_ptr<WiFi_InfoHelperObjC>()> wifiInfo{};
    std::function<std::shared_ptr<InternetReachabilityHelper>()> reachability{};
    // Looks the public address up again; the completion runs on the main queue.
    std::function<void(std::function<void()>)> refreshUserIPAddress{};
    // The main window, for the update sheet; none in tests without a window.
    WindowView* mainWindow = nullptr;
};

// The main window's right-hand pane: the chosen location, the connect
// button, the connection's status, the reconnect loop and the bars. Plain
// C++ against MainViewDetailsAreaView; main thread only. Held by shared_ptr:
// every closure it hands out reaches it through a weak pointer.
//
// One .cpp per concern: set-up and location (this header's .cpp), status
// reports, the reconnect loop, requests, errors, bars and presentation.
class MainViewDetailsAreaController final : public DetailsPane,
                                            public MainViewDetailsAreaEvents,
                                            public ConnectionLifeListener,
                                            public std::enable_shared_from_this<MainViewDetailsAreaController> {
public:
    static constexpr std::size_t MAX_CHARS_TO_USE_SMALLER_FONT = 50;
    static constexpr double MAP_FADE_ANIMATION_DURATION = 1.5;
    static constexpr double CONNECTED_ACTIVITY_INDICATOR_ANIMATION_DURATION = 1.0;
    static constexpr double kButtonRearmMs = 1000;
    static constexpr double kConnectStartMs = 200;
    static constexpr double kXSignPaddingLeft = -54.0;
    static constexpr double kAutoUpdateFadeIn = 0.3;
    static constexpr double kAutoUpdateFadeOut = 1.0;

    explicit MainViewDetailsAreaController(MainViewDetailsEnvironment environment);
    ~MainViewDetailsAreaController() override;
    MainViewDetailsAreaController(const MainViewDetailsAreaController&) = delete;
    MainViewDetailsAreaController& operator=(const MainViewDetailsAreaController&) = delete;

    // Set-up, location and fields (main_view_details_area_controller.cpp).
    void setupAfterAwakeFromNib();
    void setDeactivateTableCallback(std::function<void()> callback) override;
    void setActivateTableCallback(std::function<void()> callback) override;
    void setupDetailViewComponents() override;
    void setDefaultButtonLabel() override;
    void setConnectionDetailsCallbacks(const VPNConnectionDetailsCallbacks& callbacks) override;
    void changeDetailsView(const std::shared_ptr<LocationsListItemModel>& location) override;
    std::shared_ptr<LocationsListItemModel> dataObject() const override { return dataObject_; }
    void updateDetailsViewFields();
    // Writes the state object's vpnProtocolReadableClean and shows it.
    void refreshProtocolField(bool connectionInUse);
    void updateIPAddress(const std::optional<std::string>& address) override;
    void refreshIPAddressIfBlank() override;
    void performConnectAction() override { onConnectButtonClick(); }
    void disableLocationChange();
    void enableLocationChange();
    void changeBackgroundImageToConnectedState();
    void changeBackgroundImageToNormalState();
    void openLocationsWindow();
    void setViewHidden(bool) override {}
    void updateHandCursors() override { view_.refreshHandCursors(); }
    // Uninstalls every closure the pane handed out; the destructor runs it too.
    void teardown();

    // Status reports (connection_status_callbacks.cpp).
    void prepareConnectionStatusNotifications() override;
    void onConnection_Established_NotificationHandler();
    void onConnectingStateNotification();
    void onDisconnectedStateNotification(bool forceDisconnect, bool skipUnsecuredWiFiFlagClear) override;

    // The connection's life (auto_reconnect.cpp): the application's one
    // machine, owned by the connection layer; the pane sends it the user's
    // intents and shows what it decided.
    void requestReconnect(ReconnectReason reason) override;
    // The reachability watch's report. Under the lock it says nothing of the
    // network (the lock takes the default route away): it is then only logged.
    void reachabilityChanged(bool reachable) override;
    // A secure network: Wi-Fi security's own connection ends, whatever its state.
    bool secureNetworkJoined() override;
    bool connectionInitiateCanceled() const override { return host_.stopped(); }
    const ConnectionLife& connectionLife() const { return life_; }
    // A refused attempt under the lock: the lock stays, and the window says so.
    bool lockHeld() const { return life_.state() == ConnectionLife::State::heldByLock; }
    // What the machine asks of the window that shows it.
    void startTry() override;
    void performIntent(ConnectionIntent intent) override;
    void announceReconnect(bool hadConnected) override;
    void attemptGaveUp() override;
    void attemptRefused(bool held) override;
    void lifeChanged(ConnectionLife::State from, ConnectionLife::State to) override;

    // Requests (connect_requests.cpp).
    void onConnectButtonClick() override;
    void prepareAndConnectToVPN();
    void startConnectionRequest() override;
    void sendConnectRequest();
    void onNetworkLockEnabled(const std::string& reportedAddress);
    void performIntentionalDisconnect() override;
    bool isConnectedButtonActive() const { return isConnectedButtonActive_; }
    bool pendingConnectAttemptRequest() const { return pendingConnectAttemptRequest_; }
    const std::optional<std::string>& pendingConnectAttemptRequest_VPNServer() const {
        return pendingConnectAttemptRequest_VPNServer_;
    }

    // Errors (connection_errors.cpp).
    // The machine has taken the error; the look says what is left to show.
    void onConnection_Error_NotificationHandler(const std::string& text, ErrorLook look);
    // The attempt ended in this error (the machine has ended it, held or not).
    void onConnection_Refused_NotificationHandler(const std::string& text);
    void onNoWayOutAfterRelease();
    // The helper, back, carried out what a Disconnect left to it.
    void onHelperCarriedOut();
    void showTopNotificationErrorBar(const std::string& text);
    void showErrorNotificationBar(const std::string& text) override { showTopNotificationErrorBar(text); }
    void hideErrorNotificationBar() override;
    void onErrorTopNotificationBar_CloseButton_click() override;
    void onHelperToolFailedToPerfromCommand_Error();
    std::string internetNotReachableError() const override;
    std::string internetNotReachableErrorUpperText() const override;
    std::string helperToolError() const;
    std::string errorTopBarUpperText() const override { return errorBar_.upperText; }
    const ErrorBarContent& errorBar() const { return errorBar_; }

    // Bars and links (pane_bars.cpp).
    void showTopNotificationBar(PaneTopBar bar);
    void hideTopNotificationBar(PaneTopBar bar);
    void setupTopNotificationBar(const std::shared_ptr<TopNotificationBarModel>& top,
                                 const std::shared_ptr<BottomNotificationBarModel>& bottom) override;
    void setLastBottomNotificationBar(const std::shared_ptr<BottomNotificationBarModel>& bar);
    bool hasUpdateTopNotificationBar() const override { return true; }
    void showUpdateTopNotificationBar() override;
    void closeUpdateTopNotificationBar();
    void onUpdateInstall_linkButtonClick() override;
    void onUpdateTopNotificationBar_CloseButton_click() override;
    void startAutoUpdater();
    // The update sheet has ended.
    void autoUpdateSheetDidEnd() override;
    void onTopBarLinkedButtonClick() override;
    void onFooterLinkClick() override;
    void onInviteFriendsBottomBarButtonClick() override;
    // Fold the bottom bar into the gift button and back; the choice is kept.
    void onBottomBarCloseClick() override;
    void giftBottonToOpenBottonBarClickHandler() override;
    void updateHandCursorsForTheBottomBar();
    void hideLocationsWindow() { shell_.hideLocationsWindow(); }
    void onPickDifferentLocation_linkButtonClick() override;
    void onChangeLinkFieldClick() override;
    void onChangeProtocolLinkClick() override;
    const std::shared_ptr<TopNotificationBarModel>& latestTopBarData() const { return latestTopBarData_; }
    const std::shared_ptr<BottomNotificationBarModel>& lastBottomNotificationBar() const {
        return lastBottomNotificationBar_;
    }

    // Presentation (state_presentation.cpp).
    void prepareToConnectingState(bool skipStatus, bool skipFlagAnimation) override;
    void setConnectButtonTo_Connecting_state(bool keepErrorAndAddress);
    void setConnectButtonTo_Disconnected_state() override;
    void toggleConnectButtonState(ConnectButtonStates state, bool skip);
    void updateConnectionStatus(const std::string& text);
    void updateConnectToLabel(const std::string& text);
    void changeLocationLabel(const std::string& text);
    void showOverlayForLocationsTable();
    void hideOverlayForLocationsTable();
    void startAnimateFlagConnectionProgress();
    void stopAnimateFlagConnectionProgress();
    void showConnectedIndicator();
    void hideConnectedIndicator();
    void showAutoReconnectOverlay() override;
    void hideAutoReconnectOverlay() override;
    void showConnectButtonPopover() override;
    void closeConnectButtonPopover() override;
    void dropConnectButtonHover() override { connectButton_.mouseExitedProcessing(); }
    bool isIKEv2_currentConnectionProvider() const;

    // State the other windows and the tests read.
    bool isConnectedToVPN() const override { return isConnectedToVPN_; }
    ConnectButtonStates connectButtonState() const override { return connectButton_.currentState(); }
    ConnectButtonModel& connectButton() { return connectButton_; }
    bool rotationAnimationInProgress() const { return rotationAnimationInProgress_; }
    bool skipConnectingStateNotification() const { return skipConnectingStateNotification_; }
    bool locationChangeEnabled() const { return locationChangeEnabled_; }

private:
    ApplicationModel& model() const { return context_.model; }
    // Runs the step on the main queue after the caller returns, while the pane lives.
    void post(std::function<void(MainViewDetailsAreaController&)> step);
    void later(double ms, std::function<void(MainViewDetailsAreaController&)> step);
    void setIsConnectedToVPN(bool value);
    void sendAnalyticsEvent(const std::string& name);
    void fireIPAddressUpdated(const std::string& address);
    // The public address is looked up again; the pane shows the answer.
    void askPublicIPAgain();
    void fireConnectionStatusUpdated(const std::string& text);
    void fireConnectButtonStateChanged(const std::string& label);
    bool wifiSSIDHasChanged() const;
    void restartReachability(const std::string& address);
    void showWaitingForNetwork(bool waiting);
    void onLockReleased();
    // Whether the pane keeps its busy look: an attempt goes on, or a lock holds.
    bool attemptGoesOn() const { return life_.busy(); }
    void endInReadyLook();
    // The user's (or Wi-Fi security's) end: the engine disconnects and the window is ready.
    void endOnPurpose();
    void applyConnectingState(bool keepErrorAndAddress);
    void endWithoutServer(const char* why);
    bool openLink(const std::optional<std::string>& url);
    std::string serverHostFor(const class VPNParseConfig& config) const;
    // storedAddress: the report answers a lock engaged for that stored address
    // after the lookup failed; only that address may then be connected.
    void lockCompletion(const std::string& reported, ConnectionLife::Ticket ticket,
                        const std::string& storedAddress = {});
    void onNetworkLockReport(const std::string& reported, const std::string& storedAddress,
                             ConnectionLife::Ticket ticket);
    void lockStoredAddress(const std::string& address);
    // A try parked while the server's route was being added goes on, once,
    // if it is still the try in force.
    void resumeParkedTry();
    // Asks the engine to engage the lock for the host; its answer comes to
    // lockCompletion with the try's ticket. False: no lock will answer.
    bool requestLock(const std::string& host, ConnectionLife::Ticket ticket, const std::string& storedAddress = {});

    BaseControllerContext context_;
    MainViewDetailsAreaView& view_;
    MainQueue& queue_;
    PaneEngine& engine_;
    ShellCommands& shell_;
    LinksManager* links_;
    std::function<std::shared_ptr<ProbeURLReachabilityHelper>()> probe_;
    std::function<std::shared_ptr<WiFi_InfoHelperObjC>()> wifiInfo_;
    std::function<std::shared_ptr<InternetReachabilityHelper>()> reachability_;
    std::function<void(std::function<void()>)> refreshUserIPAddress_;
    WindowView* mainWindow_;
    ConnectButtonModel connectButton_;

    std::shared_ptr<LocationsListItemModel> dataObject_;
    std::optional<VPNConnectionDetailsCallbacks> connectionDetailsCallbacks_;
    std::function<void()> activateTableCallback_;
    std::function<void()> deactivateTableCallback_;
    std::shared_ptr<TopNotificationBarModel> latestTopBarData_;
    std::shared_ptr<BottomNotificationBarModel> latestBottomBarData_;
    std::shared_ptr<BottomNotificationBarModel> lastBottomNotificationBar_;
    ErrorBarContent errorBar_;
    bool isConnectedToVPN_ = false;
    bool skipConnectingStateNotification_ = false;
    bool isConnectedButtonActive_ = true;
    bool pendingConnectAttemptRequest_ = false;
    std::optional<std::string> pendingConnectAttemptRequest_VPNServer_;
    ConnectionLife::Ticket parkedTry_;
    bool rotationAnimationInProgress_ = false;
    bool locationChangeEnabled_ = true;
    // Bumped by every slide: a slide-out's end hides its bar only if no
    // slide came after it.
    std::array<std::uint64_t, 4> barGeneration_{};
    bool statusClosuresInstalled_ = false;
    bool tickInstalled_ = false;
    bool protocolObserverInstalled_ = false;
    bool waitingForNetworkShown_ = false;
    // The attempt's "Reconnecting" banner is out.
    bool reconnectAnnounced_ = false;
    ConnectionLifeHost& host_;
    ConnectionLife& life_;
    // Alive while the pane is: the model's lock-release listener checks it.
    std::shared_ptr<bool> lockListenerToken_ = std::make_shared<bool>(true);
};

}  // namespace hw
