#pragma once
#include "connection/vpn_connection_manager_ports.h"
#include "platform/helper_job_table.h"
#include "services/helper_tool/helper_tool_manager.h"

namespace hw {

// The manager's helper commands, carried by the helper client.
class VPNConnectionManagerHelperAdapter final : public ConnectionManagerHelper {
public:
    VPNConnectionManagerHelperAdapter(HelperToolManager& helper, HelperJobTable& jobs) : helper_(helper), jobs_(jobs) {}

    bool isHeloperToolAlreadyInstalled(const std::string& storedVersion, bool withVersionCheck) override {
        return helper_.isHeloperToolAlreadyInstalled(storedVersion, withVersionCheck);
    }
    bool isHelperToolPresent() override;
    bool helperDied() const override { return helper_.helperDied(); }
    void installAction(InstallBlock completion) override { helper_.installAction(std::move(completion)); }
    void createVPNConnection(const HelperVPNServiceDescription& config,
                             std::function<void(bool created)> onCreated) override {
        helper_.createVPNConnection(config, std::move(onCreated));
    }
    void deleteExistingVPNService(const std::string& serviceName) override {
        helper_.deleteExistingVPNService(serviceName);
    }
    void disableIPV6(StringBlock done) override { helper_.disableIPV6(std::move(done)); }
    void reEnableIPV6() override { helper_.reEnableIPV6(); }
    void enableNetworkLock(LockBlock completion) override { helper_.enableNetworkLock(std::move(completion)); }
    void enableNetworkLock(const std::vector<std::string>& resolvers, LockBlock completion) override {
        helper_.enableNetworkLock(resolvers, std::move(completion));
    }
    void resolveVPNServerHost(const std::string& host, const std::vector<std::string>& resolvers,
                              StringBlock completion) override {
        helper_.resolveVPNServerHost(host, resolvers, std::move(completion));
    }
    void disableNetworkLock(const std::optional<std::string>& gatewayAddress) override {
        helper_.disableNetworkLock(gatewayAddress);
    }
    void networkLockState(std::function<void(std::optional<bool>)> completion) override {
        helper_.networkLockState(std::move(completion));
    }
    void staticRouteAddingProcessing(const std::optional<std::string>& vpnServerAddress,
                                     const std::optional<std::string>& defaultGateway,
                                     StringBlock onStaticRouteAdded) override {
        helper_.staticRouteAddingProcessing(vpnServerAddress, defaultGateway, std::move(onStaticRouteAdded));
    }
    void addDefaultGatewayForOpenVPN(const std::optional<std::string>& gatewayAddress,
                                     StringBlock completion) override {
        helper_.addDefaultGatewayForOpenVPN(gatewayAddress, std::move(completion));
    }
    void attachRunningOpenVPN(std::function<void(bool)> done) override {
        helper_.attachRunningOpenVPN(std::move(done));
    }
    void terminatePreviousOpenVPNProcesses(std::function<void(bool)> done) override {
        helper_.terminatePreviousOpenVPNProcesses(std::move(done));
    }
    void install_DNS_for_VPN(bool forOpenVPN, const std::vector<std::string>& pushed, StringBlock done) override {
        helper_.install_DNS_for_VPN(forOpenVPN, pushed, std::move(done));
    }
    void restore_DNS_to_original(bool forOpenVPN, bool skipFallback) override {
        helper_.restore_DNS_to_original(forOpenVPN, skipFallback);
    }
    void closeHelperTool() override { helper_.closeHelperTool(); }

private:
    HelperToolManager& helper_;
    HelperJobTable& jobs_;
};

}  // namespace hw
