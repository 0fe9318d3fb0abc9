#include "core/vpn_connection.h"

#include <cmath>
#include <cstdio>

namespace hw {

VPNConnection::VPNConnection(MainQueue& queue, const Clock& clock) : queue_(queue), clock_(clock) {}

VPNConnection::~VPNConnection() { stopConnectionTimer(); }

void VPNConnection::startConnectionTimer() {
    if (running_) return;
    startTime_ = clock_.wallSeconds();
    startSteadyMillis_ = clock_.steadyMillis();
    started_ = running_ = true;
    if (!paused_) scheduleTick(timerUpdateInterval * 1000.0);
}

void VPNConnection::scheduleTick(double ms) {
    timer_ = queue_.startTimer(ms, false, [this] {
        updateTime();
        if (running_ && !paused_) scheduleNextSecond();
    });
}

void VPNConnection::scheduleNextSecond() {
    // The text changes on the next whole second of the session.
    const auto elapsed = clock_.steadyMillis() - startSteadyMillis_;
    scheduleTick(static_cast<double>(1000 - elapsed % 1000));
}

void VPNConnection::cancelTimer() {
    if (!timer_) return;
    timer_->cancel();
    timer_.reset();
}

void VPNConnection::stopConnectionTimer() {
    running_ = false;
    cancelTimer();
}

void VPNConnection::setTicksPaused(bool paused) {
    if (paused == paused_) return;
    paused_ = paused;
    if (paused) {
        cancelTimer();
        return;
    }
    if (!running_) return;
    updateTime();
    // The tick may have ended the session or paused it again.
    if (running_ && !paused_ && !timer_) scheduleNextSecond();
}

void VPNConnection::resetTimer() {
    stopConnectionTimer();
    startTime_ = 0;
    started_ = false;
}

void VPNConnection::restartTimer() {
    resetTimer();
    startConnectionTimer();
}

double VPNConnection::elapsedSeconds() const {
    if (!started_) return 0;
    return static_cast<double>(clock_.steadyMillis() - startSteadyMillis_) / 1000.0;
}

void VPNConnection::updateTime() {
    const std::string text = elapsedTimeText(elapsedSeconds());
    if (tickUpdateCallback) tickUpdateCallback(text);
}

std::string VPNConnection::elapsedTimeText(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) seconds = 0;
    const int hours = static_cast<int>(std::fmod(seconds / 3600.0, 24.0));
    const int minutes = static_cast<int>(std::fmod(seconds / 60.0, 60.0));
    const int secs = static_cast<int>(std::fmod(seconds, 60.0));
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hours, minutes, secs);
    return text;
}

}  // namespace hw
