#pragma once
#include <optional>
#include <string>
#include <vector>

#include "core/application_model_ports.h"

namespace hw::test {

// The state object's ports, all recording into one journal so that tests can
// check the order of calls across them.
struct PortJournal {
    std::vector<std::string> calls;
    void add(std::string call) { calls.push_back(std::move(call)); }
};

class FakeConnectionManager final : public ConnectionManagerPort {
public:
    explicit FakeConnectionManager(PortJournal& j) : journal(j) {}
    void removeExistingConnection() override { journal.add("removeExistingConnection"); }
    bool automaticModeDiscoveryInProgress() const override { return discovery; }
    std::optional<std::int64_t> currentProviderType() const override { return providerType; }
    void disableNetworkLock() override { journal.add("disableNetworkLock"); }
    // Held until the test answers for the helper.
    void liftNetworkLockLeftFromEarlierRun(std::function<void()> lifted) override {
        journal.add("liftNetworkLockLeftFromEarlierRun");
        pendingLift = std::move(lifted);
    }
    PortJournal& journal;
    std::function<void()> pendingLift;
    bool discovery = false;
    std::optional<std::int64_t> providerType;
};

class FakeInternetReachability final : public InternetReachabilityPort {
public:
    explicit FakeInternetReachability(PortJournal& j) : journal(j) {}
    void stopReachability() override { journal.add("stopReachability"); }
    void reach(const std::string& host) override { journal.add("reach " + host); }
    PortJournal& journal;
};

class FakeDetailsPane final : public DetailsPanePort {
public:
    explicit FakeDetailsPane(PortJournal& j) : journal(j) {}
    void requestReconnect(ReconnectReason reason) override {
        journal.add(std::string("requestReconnect:") + reconnectReasonName(reason));
    }
    void showAutoReconnectOverlay() override { journal.add("showAutoReconnectOverlay"); }
    PortJournal& journal;
};

class FakeApplicationShell final : public ApplicationShellPort {
public:
    explicit FakeApplicationShell(PortJournal& j) : journal(j) {}
    bool skipIsAppInUserAgentModeDidSetProcessing() const override { return skipUserAgentMode; }
    void stopSheduleNextSmartWidgetUpdateTimer() override { journal.add("stopSheduleNextSmartWidgetUpdateTimer"); }
    void loadSmartWidgetData() override { journal.add("loadSmartWidgetData"); }
    void updateMainViewMapImage() override { journal.add("updateMainViewMapImage"); }
    DetailsPanePort* mainViewDetailsController() override { return detailsPane; }
    PortJournal& journal;
    bool skipUserAgentMode = false;
    DetailsPanePort* detailsPane = nullptr;
};

class FakeLoginDataSource final : public LoginDataSource {
public:
    std::optional<LoginData> recentLoginData() const override { return data; }
    std::optional<LoginData> data;
};

}  // namespace hw::test
