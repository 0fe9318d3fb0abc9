#pragma once
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
        return {!silent_, silent_ ? std::nullopt : current_};
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

private:
    std::mutex mutex_;
    std::optional<WiFiNetwork> current_;
    bool silent_ = false;
    std::vector<WiFiScanEntry> scan_;
    bool scanTimesOut_ = false;
};

}  // namespace hw::test
