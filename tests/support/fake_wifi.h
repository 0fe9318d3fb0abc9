#pragma once
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/wifi.h"

namespace hw::test {

// A scripted Wi-Fi: the current network and the scan result are what the
// test last set.
class FakeWiFi final : public WiFiProvider {
public:
    WiFiLook currentNetwork() override {
        std::lock_guard lock(mutex_);
        ++currentCalls;
        if (absent_) return {false, std::nullopt, true};
        return {!silent_, silent_ ? std::nullopt : current_};
    }
    bool startWatch(std::function<void()> changed) override {
        std::lock_guard lock(mutex_);
        if (!watchable) return false;
        watcher_ = std::move(changed);
        return true;
    }
    void stopWatch() override {
        std::lock_guard lock(mutex_);
        watcher_ = nullptr;
    }
    // The service's own word that something changed (or that it came or
    // went), told as on the main queue: call it from the test's thread.
    void announce() {
        std::function<void()> w;
        {
            std::lock_guard lock(mutex_);
            w = watcher_;
        }
        if (w) w();
    }
    bool watching() {
        std::lock_guard lock(mutex_);
        return static_cast<bool>(watcher_);
    }
    // As a NetworkManager that is not on the bus at all.
    void vanish(bool gone = true) {
        std::lock_guard lock(mutex_);
        absent_ = gone;
    }
    WiFiScan scan() override {
        std::lock_guard lock(mutex_);
        ++scans;
        return {scan_, scanTimesOut_};
    }
    void join(WiFiNetwork network) {
        std::lock_guard lock(mutex_);
        current_ = std::move(network);
    }
    void leave() {
        std::lock_guard lock(mutex_);
        current_.reset();
    }
    // As a NetworkManager gone from the bus, late or erring: no answer.
    void silence(bool silent = true) {
        std::lock_guard lock(mutex_);
        silent_ = silent;
    }
    void setScan(std::vector<WiFiScanEntry> entries, bool timesOut = false) {
        std::lock_guard lock(mutex_);
        scan_ = std::move(entries);
        scanTimesOut_ = timesOut;
    }
    static WiFiNetwork open(std::string ssid, std::string bssid) { return {std::move(ssid), std::move(bssid), WiFiSecurity::None}; }
    static WiFiNetwork wpa(std::string ssid, std::string bssid) { return {std::move(ssid), std::move(bssid), WiFiSecurity::Personal}; }

    int currentCalls = 0;
    int scans = 0;
    bool watchable = true;  // set before the watch starts

private:
    std::mutex mutex_;
    std::optional<WiFiNetwork> current_;
    bool silent_ = false;
    bool absent_ = false;
    std::function<void()> watcher_;
    std::vector<WiFiScanEntry> scan_;
    bool scanTimesOut_ = false;
};

}  // namespace hw::test
