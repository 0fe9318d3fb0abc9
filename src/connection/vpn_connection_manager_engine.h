#pragma once
#include <functional>
#include <memory>
#include <string>

#include "connection/ikev2_strongswan_connection_provider.h"
#include "connection/openvpn_vpn_connection_provider.h"
#include "connection/system_vpn_service.h"
#include "connection/vpn_connection_manager.h"
#include "connection/vpn_connection_manager_helper_adapter.h"
#include "connection/vpn_connection_manager_model_adapters.h"
#include "connection/vpn_connection_manager_report_uploader.h"
#include "connection/vpn_connection_manager_resolver.h"
#include "core/application_model.h"
#include "platform/backend/parse_client.h"
#include "platform/helper_installer.h"
#include "platform/helper_job_table.h"
#include "services/helper_tool/helper_tool_manager.h"
#include "services/helper_tool/helper_tool_xpc_connector.h"

namespace hw {

// What the whole engine is built on. Each part must outlive the engine.
struct VPNConnectionEngineParts {
    MainQueue& mainQueue;
    BackgroundQueue& background;
    const Clock& clock;
    ApplicationModel& model;
    ParseClient& parse;
    std::string platformText;  // the system's name and version, for error reports
    ProcessRunner& processRunner;
    HelperTool_XPC_Connector& helperConnector;
    HelperJobTable& helperJobs;
    HelperInstaller& helperInstaller;
    std::string bundledHelperVersion;
    std::shared_ptr<SystemVPNServiceStore> systemVPNServices;
    // Shows the helper installation alert as a sheet; none: the attempt ends at once.
    ApplicationModelConnectionContext::AlertPresenter helperInstallAlert;
    // The banner that says a reconnect runs under the kill switch.
    std::function<void()> showAutoReconnectWithNetworkLockNotification;
};

// The connection manager with its real helper client, providers and
// adapters, and the state object's view of it installed.
class VPNConnectionEngine {
public:
    explicit VPNConnectionEngine(VPNConnectionEngineParts parts);
    ~VPNConnectionEngine();
    VPNConnectionEngine(const VPNConnectionEngine&) = delete;
    VPNConnectionEngine& operator=(const VPNConnectionEngine&) = delete;

    // The manager, keeping the whole engine alive for as long as it is held:
    // what the hub's connection manager maker hands back.
    static std::shared_ptr<VPNConnectionManager> makeManager(VPNConnectionEngineParts parts);

    VPNConnectionManager& manager() { return *manager_; }
    const std::shared_ptr<VPNConnectionManager>& sharedManager() const { return manager_; }
    HelperToolManager& helperToolManager() { return *helperClient_; }

private:
    class ProviderContexts;

    ApplicationModel& model_;
    std::unique_ptr<HelperToolManager> helperClient_;
    std::unique_ptr<VPNConnectionManagerHelperAdapter> helper_;
    std::unique_ptr<ApplicationModelConnectionContext> context_;
    std::unique_ptr<ParseErrorLogReportUploader> uploader_;
    std::unique_ptr<DNSServerHostResolver> resolver_;
    std::unique_ptr<ProviderContexts> providerContexts_;
    std::shared_ptr<VPNConnectionManager> manager_;
    std::unique_ptr<VPNConnectionManagerModelPort> modelPort_;
};

}  // namespace hw
