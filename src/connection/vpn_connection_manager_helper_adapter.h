#pragma once
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "connection/vpn_connection_manager_ports.h"
#include "platform/helper_job_table.h"
#include "platform/main_queue.h"
#include "services/helper_tool/helper_tool_manager.h"

namespace hw {

// The manager's helper commands, carried by the helper client. What a
// teardown asked of a helper that was gone (the lock's release, DNS, IPv6,
// openvpn's end) is sent again, in order, once the helper answers; a start
// given meanwhile drops it.
class VPNConnectionManagerHelperAdapter final : public ConnectionManagerHelper {
public:
    // How often a helper that is gone is asked whether it is back, while a
    // teardown waits for it.
    static constexpr double kProbeMs = 1000;

    VPNConnectionManagerHelperAdapter(HelperToolManager& helper, HelperJobTable& jobs, MainQueue& queue)
        : helper_(helper), jobs_(jobs), queue_(queue) {}

    bool isHeloperToolAlreadyInstalled(const std::string& storedVersion, bool withVersionCheck) override {
        return helper_.isHeloperToolAlreadyInstalled(storedVersion, withVersionCheck);
    }
    bool isHelperToolPresent() override;
    bool helperDied() const override { return helper_.helperDied(); }
    void installAction(InstallBlock completion) override { helper_.installAction(std::move(completion)); }
    void createVPNConnection(const HelperVPNServiceDescription& config,
                             std::function<void(bool created)> onCreated) override {
        startGiven();
        helper_.createVPNConnection(config, std::move(onCreated));
    }
    void deleteExistingVPNService(const std::string& serviceName) override {
        helper_.deleteExistingVPNService(serviceName);
    }
    void disableIPV6(StringBlock done) override {
        startGiven();
        helper_.disableIPV6(std::move(done));
    }
    void reEnableIPV6() override;
    void enableNetworkLock(LockBlock completion) override {
        startGiven();
        helper_.enableNetworkLock(std::move(completion));
    }
    void enableNetworkLock(const std::vector<std::string>& resolvers, LockBlock completion) override {
        startGiven();
        helper_.enableNetworkLock(resolvers, std::move(completion));
    }
    void resolveVPNServerHost(const std::string& host, const std::vector<std::string>& resolvers,
                              StringBlock completion) override {
        startGiven();
        helper_.resolveVPNServerHost(host, resolvers, std::move(completion));
    }
    void disableNetworkLock(const std::optional<std::string>& gatewayAddress) override {
        disableNetworkLock(gatewayAddress, {});
    }
    void disableNetworkLock(const std::optional<std::string>& gatewayAddress, StringBlock released) override;
    void retrieveDefaultGateway(StringBlock completion) override {
        helper_.retrieveDefaultGateway(std::move(completion));
    }
    void networkLockState(std::function<void(std::optional<bool>)> completion) override {
        helper_.networkLockState(std::move(completion));
    }
    void staticRouteAddingProcessing(const std::optional<std::string>& vpnServerAddress,
                                     const std::optional<std::string>& defaultGateway,
                                     StringBlock onStaticRouteAdded) override {
        startGiven();
        helper_.staticRouteAddingProcessing(vpnServerAddress, defaultGateway, std::move(onStaticRouteAdded));
    }
    void addDefaultGatewayForOpenVPN(const std::optional<std::string>& gatewayAddress,
                                     StringBlock completion) override {
        startGiven();
        helper_.addDefaultGatewayForOpenVPN(gatewayAddress, std::move(completion));
    }
    void attachRunningOpenVPN(std::function<void(bool)> done) override {
        startGiven();
        helper_.attachRunningOpenVPN(std::move(done));
    }
    void terminatePreviousOpenVPNProcesses(std::function<void(bool)> done) override;
    void install_DNS_for_VPN(bool forOpenVPN, const std::vector<std::string>& pushed, StringBlock done) override {
        startGiven();
        helper_.install_DNS_for_VPN(forOpenVPN, pushed, std::move(done));
    }
    void restore_DNS_to_original(bool forOpenVPN, bool skipFallback) override;
    void closeHelperTool() override { helper_.closeHelperTool(); }
    void setTeardownCarriedOut(std::function<void()> carriedOut) override { carriedOut_ = std::move(carriedOut); }

private:
    // Sends a teardown command; send(done) calls done once it is answered.
    using Send = std::function<void(std::function<void()> done)>;
    void teardown(const char* kind, Send send);
    void probe();
    void startGiven();

    HelperToolManager& helper_;
    HelperJobTable& jobs_;
    MainQueue& queue_;
    std::vector<std::pair<const char*, Send>> replay_;
    std::unique_ptr<Timer> probe_;
    std::function<void()> carriedOut_;
    std::uint64_t starts_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
