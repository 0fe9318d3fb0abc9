#pragma once
#include <functional>
#include <optional>
#include <string>

#include "connection/connection_life_host.h"
#include "core/vpn_types.h"

namespace hw {

class VPNConnectionManager;
struct ManagerServerConfig;

// The connection manager as the windows use it. Main thread only.
class PaneEngine {
public:
    virtual ~PaneEngine() = default;
    // Nothing without a current provider.
    virtual std::optional<VPNTypes> currentProviderType() const = 0;
    virtual void installDNSForVPN() = 0;
    // A connect the user asked for (not a reconnect, not a step of the search).
    virtual void beginUserConnect() {}

    // --- Details pane ---
    // The application's one connection life: the pane sends the user's
    // intents there and shows its state.
    virtual ConnectionLifeHost& connectionLife() = 0;
    // The same, as every control that sends the user's intents sees it.
    virtual ConnectionIntents& intents() { return connectionLife(); }
    // What the pane shows of the engine's reports, once the life has taken
    // them; empty ones uninstall.
    using StatusClosures = ConnectionStatusViews;
    virtual void setStatusClosures(StatusClosures closures) = 0;
    virtual void setConnectionTimerTickCallback(std::function<void(const std::string&)> tick) = 0;
    // Called each time a tunnel is gone, the user's disconnect included; empty uninstalls.
    virtual void setTunnelDownCallback(std::function<void()> /*down*/) {}
    virtual void connect(const ManagerServerConfig& config) = 0;
    virtual void disconnect() = 0;
    virtual void cleanUpSession(bool forced) = 0;
    // Answers whether the attempt must wait for the completion.
    virtual bool enableNetworkLock(const std::string& serverHost, const std::optional<std::string>& previousGateway,
                                   const std::string& dns1, const std::string& dns2,
                                   std::function<void(const std::string&)> completion) = 0;
    virtual void reapplyNetworkLock() = 0;
    virtual bool startedAddVPNServerStaticRoute() const = 0;
    virtual void addVPNServerStaticRoute(const std::string& serverAddress,
                                         const std::optional<std::string>& gateway,
                                         std::function<void(const std::optional<std::string>&)> completion) = 0;
    // --- end of the details pane's block ---
};

// The real manager behind the windows.
class VPNConnectionManagerPaneEngine final : public PaneEngine {
public:
    explicit VPNConnectionManagerPaneEngine(VPNConnectionManager& manager) : manager_(manager) {}
    std::optional<VPNTypes> currentProviderType() const override;
    void installDNSForVPN() override;
    void beginUserConnect() override;

    ConnectionLifeHost& connectionLife() override;
    void setStatusClosures(StatusClosures closures) override;
    void setConnectionTimerTickCallback(std::function<void(const std::string&)> tick) override;
    void setTunnelDownCallback(std::function<void()> down) override;
    // The session clock ticks only while something shows it.
    void setSessionClockShown(bool shown);
    void connect(const ManagerServerConfig& config) override;
    void disconnect() override;
    void cleanUpSession(bool forced) override;
    bool enableNetworkLock(const std::string& serverHost, const std::optional<std::string>& previousGateway,
                           const std::string& dns1, const std::string& dns2,
                           std::function<void(const std::string&)> completion) override;
    void reapplyNetworkLock() override;
    bool startedAddVPNServerStaticRoute() const override;
    void addVPNServerStaticRoute(const std::string& serverAddress, const std::optional<std::string>& gateway,
                                 std::function<void(const std::optional<std::string>&)> completion) override;

private:
    VPNConnectionManager& manager_;
};

}  // namespace hw
