#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "connection/vpn_connection_manager_ports.h"

namespace hw::test {

// A provider that records what it is asked and reports only when the test
// says so, through the callback the manager subscribed with.
class FakeProvider final : public ManagedConnectionProvider {
public:
    explicit FakeProvider(std::optional<VPNTypes> type) : type_(type) {}

    std::optional<VPNTypes> type() const override { return type_; }
    void connect(const ManagerServiceConfig& config, std::function<void()> onSuccessfullyConnected) override {
        calls.push_back("connect");
        lastServiceConfig = config;
        onConnected = std::move(onSuccessfullyConnected);
        if (reportOnConnect) report(*reportOnConnect);
    }
    void prepare(const ManagerServerConfig&, std::function<void()> onPrepared) override {
        calls.push_back("prepare");
        onConnected = std::move(onPrepared);
    }
    std::int32_t getExistingVPNConnectionProtocolType(const std::string&) override {
        calls.push_back("getExisting");
        return existingType;
    }
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& name, ManagerStatusCallback onStatus,
                                                               bool skip) override {
        calls.push_back(std::string("subscribe:") + (skip ? "skip" : "report"));
        subscribedName = name;
        callback = std::move(onStatus);
        return 0;
    }
    void startDial(std::function<void()> completion) override {
        calls.push_back("startDial");
        dialCompletion = std::move(completion);
    }
    bool whenReadyToDial(std::function<void(bool answered)> answered) override {
        if (!waitsForAnswer) return false;
        calls.push_back("awaitAnswer");
        answer = std::move(answered);
        return true;
    }
    void adoptRunning() override { calls.push_back("adoptRunning"); }
    void disconnect(std::function<void()> completion) override {
        calls.push_back("disconnect");
        if (completion) completion();
    }
    void forceDisconnect() override { calls.push_back("forceDisconnect"); }
    void stopConnectionStatusUpdates() override {
        calls.push_back("stopUpdates");
        callback = nullptr;
    }
    void deleteExistingVPNService(const std::string&) override { calls.push_back("deleteService"); }
    std::string logData() const override { return log; }
    std::optional<std::string> latestGateway() const override { return gateway; }
    std::vector<std::string> pushedDNSServers() const override { return pushedDNS; }

    // Sends a report as the provider's connector would; false when nobody listens.
    bool report(std::int32_t status, std::optional<std::string> message = std::nullopt) {
        if (!callback) return false;
        callback(status, message, *type_);
        return true;
    }
    int count(const std::string& call) const {
        int n = 0;
        for (const auto& c : calls) n += c == call;
        return n;
    }

    std::vector<std::string> calls;
    ManagerStatusCallback callback;
    std::function<void()> onConnected;
    std::function<void()> dialCompletion;
    std::optional<ManagerServiceConfig> lastServiceConfig;
    std::string subscribedName;
    std::int32_t existingType = -1;
    std::string log;
    std::optional<std::string> gateway;
    std::vector<std::string> pushedDNS;
    std::optional<std::int32_t> reportOnConnect;  // a start that fails at once
    // As openvpn: the dial waits until `answer` runs.
    bool waitsForAnswer = false;
    std::function<void(bool)> answer;

private:
    std::optional<VPNTypes> type_;
};

}  // namespace hw::test
