#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/vpn_types.h"

namespace hw {

class VPNServiceConfig;
class VPNParseConfig;

// How a provider reports the tunnel: a status code (VPNStatusCodes), an
// optional message (absent is not the same as empty) and the protocol.
using VPNStatusCallback =
    std::function<void(std::int32_t status, const std::optional<std::string>& message, VPNTypes type)>;

// The one interface through which the connection manager drives every
// protocol. Every operation has a harmless default so that a provider
// overrides only what its protocol has. Providers are shared by the manager's
// fields and compare equal only when they are the same object.
class AbstractVPNConnectionProvider {
public:
    AbstractVPNConnectionProvider() = default;
    virtual ~AbstractVPNConnectionProvider() = default;
    AbstractVPNConnectionProvider(const AbstractVPNConnectionProvider&) = delete;
    AbstractVPNConnectionProvider& operator=(const AbstractVPNConnectionProvider&) = delete;

    // The protocol this provider serves; set once by the concrete provider.
    std::optional<VPNTypes> type() const { return type_; }

    virtual void connect(const VPNServiceConfig& config, std::function<void()> onSuccessfullyConnected,
                         VPNStatusCallback onFailure);
    virtual void prepare(const std::shared_ptr<VPNParseConfig>& config, std::function<void()> onPrepared,
                         VPNStatusCallback onFailure);
    // 2 for an existing service with IPsec, 3 for a PPP one, -1 for none.
    virtual std::int32_t getExistingVPNConnectionProtocolType(const std::string& connectionName);
    // Attaches to the named connection; unless skipped, the current status is
    // reported at once. Answers the current status.
    virtual std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& connectionName,
                                                                       VPNStatusCallback onStatus,
                                                                       bool skipCurrentStatusNotification);
    virtual void startDial(std::function<void()> completion);
    // Where the tunnel process must answer before the dial: runs `answered`
    // on the main thread once it did, at once where it is ready already
    // (true), or once it ended or never did (false).
    // False: nothing to wait for.
    virtual bool whenReadyToDial(std::function<void(bool answered)> answered) {
        (void)answered;
        return false;
    }
    // Takes over a tunnel of this kind left running by an earlier run; its
    // status comes as usual (disconnected when there is none). OpenVPN and
    // IKEv2 can.
    virtual void adoptRunning() {}
    // Callers must not wait for the completion: most providers never run it.
    virtual void disconnect(std::function<void()> completion);
    virtual void stopConnectionStatusUpdates();
    virtual void deleteExistingVPNService(const std::string& connectionName);

    bool operator==(const AbstractVPNConnectionProvider& other) const { return this == &other; }

protected:
    void setType(std::optional<VPNTypes> type) { type_ = type; }

private:
    std::optional<VPNTypes> type_;
};

}  // namespace hw
