#pragma once
#include <memory>
#include <string>

#include "hub/service_layer_ports.h"
#include "network/reachability.h"
#include "platform/backend/parse_client.h"
#include "services/vpn_configs_service.h"

// The hub's views of the real services. Each holds its service by reference;
// the hub keeps the service alive alongside.
namespace hw {

class ParseCloudFunctions final : public HubCloudFunctionsPort {
public:
    explicit ParseCloudFunctions(ParseClient& parse) : parse_(parse) {}
    void callFunction(const std::string& name, const JSON& params, std::function<void(bool)> completion) override {
        parse_.callFunction(name, params, [completion = std::move(completion)](JSON, OptionalParseError error) {
            if (completion) completion(!error);
        });
    }

private:
    ParseClient& parse_;
};

class ReachabilityAdapter final : public HubReachabilityPort {
public:
    explicit ReachabilityAdapter(std::shared_ptr<Reachability> reachability) : reachability_(std::move(reachability)) {}
    void setBackendHost(const std::string& host) override { reachability_->setBackendHost(host); }
    void checkReachability(std::function<void(bool)> completion) override {
        reachability_->checkReachability(std::move(completion));
    }

private:
    std::shared_ptr<Reachability> reachability_;
};

class VPNConfigsServiceAdapter final : public HubVPNConfigsPort {
public:
    explicit VPNConfigsServiceAdapter(VPNConfigsService& service) : service_(service) {}
    void loadLocationsList(bool useCache,
                           std::function<void(std::shared_ptr<LocationsListModel>)> completion) override {
        service_.loadLocationsList(useCache, [completion = std::move(completion)](
                                                 std::shared_ptr<LocationsListModel> list, OptionalParseError error) {
            if (completion) completion(error ? nullptr : std::move(list));
        });
    }
    void setOnParseSessionExpired(SessionExpiredHandler handler) override {
        service_.onParseSessionExpired = std::move(handler);
    }

private:
    VPNConfigsService& service_;
};

}  // namespace hw
