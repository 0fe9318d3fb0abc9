#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/system_vpn_service.h"
#include "platform/helper_message.h"

namespace hw {

// One request to the privileged helper and its reply; nothing when the
// helper cannot be reached or does not answer in time. Blocks the caller
// for at most the timeout it was made with.
using HelperCall = std::function<std::optional<HelperMessage>(const std::string& rpc, HelperDictionary parameters)>;

// A helper call over its socket (HAVENWAY_HELPER_SOCKET, else the
// default), independent of the main queue so that the connector's
// synchronous questions can be asked from any thread.
HelperCall makeHelperSocketCall(std::string socketPath, std::chrono::milliseconds timeout);

// The system VPN services as the helper keeps them. Services are created
// by the helper's "connectToVPN"; here they are found, dialled, followed
// and removed. While a status callback is set, a thread of the
// connection's own reads the changes the helper pushes on a channel, or,
// from a helper without that, polls it.
class HelperSystemVPNServiceStore final : public SystemVPNServiceStore {
public:
    explicit HelperSystemVPNServiceStore(HelperCall call,
                                         std::chrono::milliseconds pollInterval = std::chrono::milliseconds(1000))
        : call_(std::move(call)), pollInterval_(pollInterval) {}

    std::unique_ptr<SystemVPNPreferences> openPreferences() override;
    std::unique_ptr<SystemVPNConnection> connectionForService(const std::string& serviceID) override;

private:
    HelperCall call_;
    std::chrono::milliseconds pollInterval_;
};

// The store the PPP providers use in the application: the helper at its
// socket, 5 s per question.
std::shared_ptr<SystemVPNServiceStore> defaultSystemVPNServiceStore();

}  // namespace hw
