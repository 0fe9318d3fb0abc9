#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/application_model_ports.h"

namespace hw::test {

// The ports of the state object, each recording its calls into one journal
// so that tests can check the order across them.
struct PortJournal {
    std::vector<std::string> calls;
};

class FakeConnectionManager final : public ConnectionManagerPort {
public:
    explicit FakeConnectionManager(PortJournal& journal) : journal_(journal) {}
    void removeExistingConnection() override { journal_.calls.push_back("removeExistingConnection"); }
    bool automaticModeDiscoveryInProgress() const override { return discovery; }
    void setAutomaticModeDiscoveryInProgress(bool inProgress) override {
        journal_.calls.push_back(std::string("automaticModeDiscoveryInProgress=") + (inProgress ? "true" : "false"));
        discovery = inProgress;
    }
    std::optional<std::int64_t> currentProviderType() const override { return providerType; }
    void disableNetworkLock() override { journal_.calls.push_back("disableNetworkLock"); }

    bool discovery = false;
    std::optional<std::int64_t> providerType;

private:
    PortJournal& journal_;
};

class FakeInternetReachability final : public InternetReachabilityPort {
public:
    explicit FakeInternetReachability(PortJournal& journal) : journal_(journal) {}
    void stopReachability() override { journal_.calls.push_back("stopReachability"); }
    void reach(const std::string& host) override { journal_.calls.push_back("reach " + host); }

private:
    PortJournal& journal_;
};

class FakeDetailsPane final : public DetailsPanePort {
public:
    explicit FakeDetailsPane(PortJournal& journal) : journal_(journal) {}
    void requestAutoReconnect() override { journal_.calls.push_back("requestAutoReconnect"); }
    void showAutoReconnectOverlay() override { journal_.calls.push_back("showAutoReconnectOverlay"); }

private:
    PortJournal& journal_;
};

class FakeApplicationShell final : public ApplicationShellPort {
public:
    explicit FakeApplicationShell(PortJournal& journal) : journal_(journal) {}
    bool skipIsAppInUserAgentModeDidSetProcessing() const override { return skipUserAgentMode; }
    void stopSheduleNextSmartWidgetUpdateTimer() override {
        journal_.calls.push_back("stopSheduleNextSmartWidgetUpdateTimer");
    }
    void loadSmartWidgetData() override { journal_.calls.push_back("loadSmartWidgetData"); }
    void updateMainViewMapImage() override { journal_.calls.push_back("updateMainViewMapImage"); }
    DetailsPanePort* mainViewDetailsController() override { return detailsPane; }

    bool skipUserAgentMode = false;
    DetailsPanePort* detailsPane = nullptr;

private:
    PortJournal& journal_;
};

class FakeLoginDataSource final : public LoginDataSource {
public:
    std::optional<LoginData> recentLoginData() const override { return data; }
    std::optional<LoginData> data;
};

}  // namespace hw::test
