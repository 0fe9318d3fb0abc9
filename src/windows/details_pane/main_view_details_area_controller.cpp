#include "windows/details_pane/main_view_details_area_controller.h"

#include "core/application_model.h"
#include "platform/log.h"
#include "services/locations_list_item_model.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
constexpr const char* kLog = "MainViewDetailsAreaController";
}  // namespace

MainViewDetailsAreaController::MainViewDetailsAreaController(MainViewDetailsEnvironment environment)
    : context_(environment.context),
      view_(environment.view),
      queue_(environment.queue),
      engine_(environment.engine),
      shell_(environment.shell),
      links_(environment.links),
      probe_(std::move(environment.probe)),
      wifiInfo_(std::move(environment.wifiInfo)),
      reachability_(std::move(environment.reachability)),
      refreshUserIPAddress_(std::move(environment.refreshUserIPAddress)),
      mainWindow_(environment.mainWindow),
      connectButton_(environment.queue, environment.context.model),
      host_(environment.engine.connectionLife()),
      life_(host_.life()) {
    view_.setEvents(this);
    // The window shows the application's one attempt; a later pane takes it over.
    host_.setListener(this);
    host_.setNetworkChangePending([this] { return wifiSSIDHasChanged(); });
    // The model outlives the pane; a later pane takes the listener over.
    std::weak_ptr<bool> token = lockListenerToken_;
    model().onNetworkLockReleased = [this, token] {
        if (!token.expired()) onLockReleased();
    };
    view_.bindConnectButton(connectButton_);
    connectButton_.onChanged = [this] { view_.refreshConnectButton(); };
    setupAfterAwakeFromNib();
}

MainViewDetailsAreaController::~MainViewDetailsAreaController() {
    teardown();
    if (host_.listener() == this) {
        host_.setListener(nullptr);
        host_.setNetworkChangePending(nullptr);
    }
    view_.setEvents(nullptr);
}

void MainViewDetailsAreaController::teardown() {
    // The engine and the button's class outlive the pane: leave nothing behind
    // that would call into it.
    if (statusClosuresInstalled_) engine_.setStatusClosures({});
    if (tickInstalled_) {
        engine_.setConnectionTimerTickCallback(nullptr);
        engine_.setTunnelDownCallback(nullptr);
    }
    statusClosuresInstalled_ = tickInstalled_ = false;
    ConnectButtonCallbacks::onMouseEnteredCallback = nullptr;
    ConnectButtonCallbacks::onMouseExitedCallback = nullptr;
    ConnectButtonCallbacks::onMouseHoverDelayedCallback = nullptr;
    activateTableCallback_ = deactivateTableCallback_ = nullptr;
    connectionDetailsCallbacks_.reset();
}

void MainViewDetailsAreaController::post(std::function<void(MainViewDetailsAreaController&)> step) {
    std::weak_ptr<MainViewDetailsAreaController> weak = weak_from_this();
    queue_.post([weak, step = std::move(step)] {
        if (auto self = weak.lock()) step(*self);
    });
}

void MainViewDetailsAreaController::later(double ms, std::function<void(MainViewDetailsAreaController&)> step) {
    std::weak_ptr<MainViewDetailsAreaController> weak = weak_from_this();
    queue_.postAfter(ms, [weak, step = std::move(step)] {
        if (auto self = weak.lock()) step(*self);
    });
}

void MainViewDetailsAreaController::setupAfterAwakeFromNib() {
    view_.setChangeProtocolLinkText(LocaleData::change_protocol_label());
    view_.setConnectToText(LocaleData::main_view_connect_to_label());
    // The bars stay hidden until their records arrive, so nothing is
    // loading in view: a spinner here would only keep the idle loop awake.
    view_.setBarActivityIndicatorsSpinning(false);
    view_.setBottomBar(std::nullopt);
    view_.setConnectionTimeText(LocaleData::connection_timer_default_label());
    view_.setConnectionDetailsBoxHidden(true);
    view_.setConnectingXSignHidden(true);
    view_.setFlagConnectedIndicatorHidden(true);
    view_.setAutoReconnectOverlay(true, "", "");
    view_.setUpdateBarText(LocaleData::main_view_top_bar_update_available_text(),
                           LocaleData::main_view_top_bar_notifications_install_update_here_button());
    for (auto bar : {PaneTopBar::error, PaneTopBar::update, PaneTopBar::server, PaneTopBar::autoReconnect})
        view_.setTopBarHidden(bar, true);
    view_.setTopBarStripHidden(false);
    view_.setAutoUpdateOverlayHidden(true);
}

void MainViewDetailsAreaController::setDeactivateTableCallback(std::function<void()> callback) {
    deactivateTableCallback_ = std::move(callback);
}

void MainViewDetailsAreaController::setActivateTableCallback(std::function<void()> callback) {
    activateTableCallback_ = std::move(callback);
}

void MainViewDetailsAreaController::setupDetailViewComponents() {
    // The bars' frames live in the widget: it slides each between its place
    // and the positions above it.
    log::debug(kLog, "setupDetailViewComponents");
}

void MainViewDetailsAreaController::setDefaultButtonLabel() { connectButton_.setDefaultButtonLabel(); }

void MainViewDetailsAreaController::setConnectionDetailsCallbacks(const VPNConnectionDetailsCallbacks& callbacks) {
    connectionDetailsCallbacks_ = callbacks;
}

void MainViewDetailsAreaController::changeDetailsView(const std::shared_ptr<LocationsListItemModel>& location) {
    if (!location) {
        log::warning(kLog, "changeDetailsView without a location: skipped");
        return;
    }
    dataObject_ = location;
    updateDetailsViewFields();
    if (connectionDetailsCallbacks_) connectionDetailsCallbacks_->fireChosenLocationChanged(*location);
}

void MainViewDetailsAreaController::updateDetailsViewFields() {
    if (!dataObject_) return;
    changeLocationLabel(dataObject_->name);
    view_.setFlagImage(dataObject_->flag);
    const auto state = model().currentConnectionState();
    refreshProtocolField(isConnectedToVPN_ || state != ConnectionStates::disconnected);
    // The same location chosen again (the locations window does so as it
    // opens) must not lose the line of a connection in use: no status follows.
    if (state == ConnectionStates::connected)
        updateConnectToLabel(LocaleData::main_view_connected_to_label());
    else if (state == ConnectionStates::connecting)
        updateConnectToLabel(LocaleData::main_view_connecting_to_label());
    else
        updateConnectToLabel(LocaleData::main_view_connect_to_label());
    std::weak_ptr<MainViewDetailsAreaController> weak = weak_from_this();
    engine_.setConnectionTimerTickCallback([weak](const std::string& elapsed) {
        if (auto self = weak.lock()) self->view_.setConnectionTimeText(elapsed);
    });
    // A Disconnect asks for the address at once, yet a tunnel slow to end (its
    // server silent) still carries that lookup: ask again once it is gone.
    engine_.setTunnelDownCallback([weak] {
        auto self = weak.lock();
        if (self && self->model().currentConnectionState() == ConnectionStates::disconnected) self->askPublicIPAgain();
    });
    tickInstalled_ = true;
}

void MainViewDetailsAreaController::refreshProtocolField(bool connectionInUse) {
    // A connection names its own protocol (automatic mode's current try
    // included); otherwise the stored choice is what the next connect uses.
    std::int64_t shown = model().vpnProtocol;
    if (connectionInUse) {
        if (const auto type = engine_.currentProviderType()) shown = *type;
    }
    std::string text = ApplicationModel::getReadableVPNProtocol(shown);
    // The tray's protocol line says what the pane says.
    if (connectionDetailsCallbacks_) connectionDetailsCallbacks_->fireVPNProtocolUpdated(text);
    const auto first = text.find_first_not_of(' ');
    text = first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
    model().vpnProtocolReadableClean = text;
    view_.setProtocolText(text);
}

void MainViewDetailsAreaController::updateIPAddress(const std::optional<std::string>& address) {
    post([address](MainViewDetailsAreaController& self) {
        if (address) self.model().userPublicIP = *address;
        const std::string shown = self.model().userPublicIP.value_or("");
        self.view_.setPublicIPAddressText(shown);
        self.fireIPAddressUpdated(shown);
    });
}

void MainViewDetailsAreaController::refreshIPAddressIfBlank() {
    if (!model().userPublicIP.value_or("").empty()) return;
    askPublicIPAgain();
}

void MainViewDetailsAreaController::disableLocationChange() {
    post([](MainViewDetailsAreaController& self) {
        self.locationChangeEnabled_ = false;
        self.view_.setChangeLocationEnabled(false, 0.35);
        log::debug(kLog, "disableLocationChange called.");
    });
}

void MainViewDetailsAreaController::enableLocationChange() {
    post([](MainViewDetailsAreaController& self) {
        self.locationChangeEnabled_ = true;
        self.view_.setChangeLocationEnabled(true, 1.0);
        log::debug(kLog, "enableLocationChange called.");
    });
}

void MainViewDetailsAreaController::changeBackgroundImageToConnectedState() {
    post([](MainViewDetailsAreaController& self) { self.view_.crossFadeMaps(true, MAP_FADE_ANIMATION_DURATION); });
}

void MainViewDetailsAreaController::changeBackgroundImageToNormalState() {
    post([](MainViewDetailsAreaController& self) { self.view_.crossFadeMaps(false, MAP_FADE_ANIMATION_DURATION); });
}

void MainViewDetailsAreaController::openLocationsWindow() { shell_.openLocationsWindow(); }

void MainViewDetailsAreaController::setIsConnectedToVPN(bool value) {
    isConnectedToVPN_ = value;
    model().isConnectedToVPN = value;
}

void MainViewDetailsAreaController::sendAnalyticsEvent(const std::string& name) {
    if (!dataObject_) {
        log::warning(kLog, "analytics event without a location: skipped");
        return;
    }
    if (context_.analytics) context_.analytics(name, AnalyticsParameters{{"ap_location_id", dataObject_->name}});
}

void MainViewDetailsAreaController::fireIPAddressUpdated(const std::string& address) {
    if (connectionDetailsCallbacks_) connectionDetailsCallbacks_->fireIPaddressUpdated(address);
}

void MainViewDetailsAreaController::fireConnectionStatusUpdated(const std::string& text) {
    if (connectionDetailsCallbacks_) connectionDetailsCallbacks_->fireConnectionStatusUpdated(text);
}

void MainViewDetailsAreaController::fireConnectButtonStateChanged(const std::string& label) {
    if (connectionDetailsCallbacks_) connectionDetailsCallbacks_->fireConnectButtonStateChanged(label);
}

}  // namespace hw
