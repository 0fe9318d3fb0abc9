#include "windows/details_pane/connect_button_model.h"

#include <cmath>

#include "core/application_model.h"
#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
constexpr const char* kLog = "ConnectButton";

void fire(const std::function<void()>& callback) {
    if (callback) callback();
}
}  // namespace

ConnectButtonModel::ConnectButtonModel(MainQueue& queue, const ApplicationModel& model)
    : queue_(queue), model_(model), label_(LocaleData::connect_button_status_connect_label()),
      self_(std::make_shared<ConnectButtonModel*>(this)) {}

ConnectButtonModel::~ConnectButtonModel() { stopDelayedHoverTimer(); }

void ConnectButtonModel::apply(ConnectButtonStates state, const std::string& label, double offsetX) {
    state_ = state;
    label_ = label;
    cell_.buttonLabelOffsetX = offsetX;
    fire(onChanged);
}

void ConnectButtonModel::setToConnectState() {
    apply(ConnectButtonStates::connect, LocaleData::connect_button_status_connect_label(), kConnectLabelOffsetX);
}

void ConnectButtonModel::setToConnectingState() {
    const bool reconnecting = model_.autoReconnectInProgress() || model_.openVPN_Reconnect_in_progress();
    apply(ConnectButtonStates::connecting,
          reconnecting ? LocaleData::connect_button_status_reconnecting_label()
                       : LocaleData::connect_button_status_connecting_label(),
          kOtherLabelOffsetX);
}

void ConnectButtonModel::setToDisconnectState() {
    apply(ConnectButtonStates::disconnect, LocaleData::connect_button_status_disconnect_label(), kOtherLabelOffsetX);
}

void ConnectButtonModel::toggleButtonState() {
    if (isInConnectState()) {
        setToConnectingState();
    } else {
        setToConnectState();
    }
}

void ConnectButtonModel::setDefaultButtonLabel() { setButtonLabel(LocaleData::connect_button_status_connect_label()); }

void ConnectButtonModel::setButtonLabel(const std::string& text) {
    label_ = text;
    fire(onChanged);
}

std::string ConnectButtonModel::backgroundImageName() const {
    switch (state_) {
        case ConnectButtonStates::connecting: return "Connecting_button";
        case ConnectButtonStates::disconnect: return "Disconnect_button";
        case ConnectButtonStates::connect: break;
    }
    return "Connect_button";
}

bool ConnectButtonModel::inHoverBand(Point p, double width) {
    return p.x >= kHoverBandLeft && p.x < width - kHoverBandRightInset;
}

void ConnectButtonModel::mouseEntered(Point p) {
    if (!isInConnectState()) return;
    log::debug(kLog, "mouseEntered -- ");
    lastMouseMovePoint_ = p;
    stopDelayedHoverTimer();
    startDelayedHoverTimer();
    fire(ConnectButtonCallbacks::onMouseEnteredCallback);
}

void ConnectButtonModel::mouseMoved(Point p) {
    if (!isInConnectState()) return;
    if (!lastMouseMovePoint_) {
        lastMouseMovePoint_ = p;
        startDelayedHoverTimer();
        return;
    }
    if (std::trunc(lastMouseMovePoint_->x) == std::trunc(p.x) &&
        std::trunc(lastMouseMovePoint_->y) == std::trunc(p.y)) {
        startDelayedHoverTimer();
        return;
    }
    fire(ConnectButtonCallbacks::onMouseExitedCallback);
    stopDelayedHoverTimer();
    lastMouseMovePoint_ = p;
    startDelayedHoverTimer();
}

void ConnectButtonModel::mouseExited() {
    log::debug(kLog, "mouseExited -- ");
    mouseExitedProcessing();
}

void ConnectButtonModel::mouseExitedProcessing() {
    stopDelayedHoverTimer();
    lastMouseMovePoint_.reset();
    if (isInConnectState()) fire(ConnectButtonCallbacks::onMouseExitedCallback);
}

void ConnectButtonModel::startDelayedHoverTimer() {
    if (timer_) return;
    std::weak_ptr<ConnectButtonModel*> weak = self_;
    timer_ = queue_.startTimer(HOVER_DELAY_TRIGGER * 1000.0, false, [weak] {
        if (auto self = weak.lock()) (*self)->onDelayedHoverTriggered();
    });
}

void ConnectButtonModel::stopDelayedHoverTimer() {
    if (!timer_) return;
    timer_->cancel();
    timer_.reset();
}

void ConnectButtonModel::onDelayedHoverTriggered() {
    timer_.reset();
    fire(ConnectButtonCallbacks::onMouseHoverDelayedCallback);
    lastMouseMovePoint_.reset();
}

}  // namespace hw
