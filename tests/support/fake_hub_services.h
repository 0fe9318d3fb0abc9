#pragma once
// The services as the hub's flows see them. Each fake holds its callers'
// completions until the test answers them, so tests choose the order.
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hub/service_layer_ports.h"

namespace hw::test {

class FakeHubAuth final : public HubAuthPort {
public:
    std::optional<LoginData> recentLoginData() const override { return stored; }
    void setOnLoginFinished(std::function<void(bool)> callback) override { onLoginFinished = std::move(callback); }
    void login(const std::string& username, const std::string& password) override {
        logins.emplace_back(username, password);
    }
    // Ends the sign-in as the real service does: through the callback.
    void finishLogin(bool succeeded) {
        if (onLoginFinished) onLoginFinished(succeeded);
    }

    std::optional<LoginData> stored;
    std::function<void(bool)> onLoginFinished;
    std::vector<std::pair<std::string, std::string>> logins;
};

class FakeHubParseConfig final : public HubParseConfigPort {
public:
    struct AutomaticLocationCall {
        std::string address;
        std::string timeZone;
        std::function<void(std::optional<std::string>)> completion;
    };

    void loadParseConfig(std::function<void()> completed,
                         std::function<void(const std::optional<std::string>&)> onError) override {
        ++configLoads;
        if (configError) {
            onError(configError);
        } else {
            if (applyConfig) applyConfig();
            completed();
        }
    }
    void requestPublicIPInfo(const std::string& url, std::function<void(PublicAddressInfo)> completion) override {
        lookups.emplace_back(url, std::move(completion));
    }
    void getAutomaticLocation(const std::string& address, const std::string& timeZone,
                              std::function<void(std::optional<std::string>)> completion) override {
        automaticLocationCalls.push_back({address, timeZone, std::move(completion)});
    }
    void setOnParseSessionExpired(SessionExpiredHandler handler) override { onSessionExpired = std::move(handler); }

    void answerLookup(PublicAddressInfo info) {
        auto call = std::move(lookups.front());
        lookups.pop_front();
        call.second(std::move(info));
    }
    void answerAutomaticLocation(std::optional<std::string> id) {
        auto call = std::move(automaticLocationCalls.front());
        automaticLocationCalls.pop_front();
        call.completion(std::move(id));
    }
    // The backend answered 209: the real service hands a repeat to the hub.
    void expireAutomaticLocation() {
        auto call = std::move(automaticLocationCalls.front());
        automaticLocationCalls.pop_front();
        onSessionExpired([this, call] { getAutomaticLocation(call.address, call.timeZone, call.completion); });
    }

    std::optional<std::string> configError;
    // Runs as the configuration is applied (sets model fields).
    std::function<void()> applyConfig;
    int configLoads = 0;
    std::deque<std::pair<std::string, std::function<void(PublicAddressInfo)>>> lookups;
    std::deque<AutomaticLocationCall> automaticLocationCalls;
    SessionExpiredHandler onSessionExpired;
};

class FakeHubVPNConfigs final : public HubVPNConfigsPort {
public:
    void loadLocationsList(bool useCache,
                           std::function<void(std::shared_ptr<LocationsListModel>)> completion) override {
        loads.emplace_back(useCache, std::move(completion));
    }
    void setOnParseSessionExpired(SessionExpiredHandler handler) override { onSessionExpired = std::move(handler); }

    void answer(std::shared_ptr<LocationsListModel> list) {
        auto call = std::move(loads.front());
        loads.pop_front();
        call.second(std::move(list));
    }
    void expire() {
        auto call = std::move(loads.front());
        loads.pop_front();
        onSessionExpired([this, call] { loadLocationsList(call.first, call.second); });
    }

    std::deque<std::pair<bool, std::function<void(std::shared_ptr<LocationsListModel>)>>> loads;
    SessionExpiredHandler onSessionExpired;
};

class FakeHubCloudFunctions final : public HubCloudFunctionsPort {
public:
    struct Call {
        std::string name;
        JSON params;
        std::function<void(bool)> completion;
    };
    void callFunction(const std::string& name, const JSON& params, std::function<void(bool)> completion) override {
        calls.push_back({name, params, std::move(completion)});
    }
    std::vector<Call> calls;
};

class FakeHubReachability final : public HubReachabilityPort {
public:
    void setBackendHost(const std::string& h) override { host = h; }
    void checkReachability(std::function<void(bool)> completion) override { checks.push_back(std::move(completion)); }
    std::string host;
    std::vector<std::function<void(bool)>> checks;
};

class FakeApplicationDelegate final : public ApplicationDelegatePort {
public:
    void showAppUpgratePopup() override { calls.push_back("showAppUpgratePopup"); }
    void openAuthWindow() override { calls.push_back("openAuthWindow"); }
    void prepareEnterpriseVersionUI() override { calls.push_back("prepareEnterpriseVersionUI"); }
    std::vector<std::string> calls;
};

}  // namespace hw::test
