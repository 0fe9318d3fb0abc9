#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "helper/ike/vici_client.h"
#include "helper/ppp/ipsec_transport.h"

namespace hw::ike {

struct L2tpIpsecOptions {
    std::chrono::milliseconds commandTimeout{10000};
    // How long the IKE_SA and its CHILD_SA may take to come up.
    std::chrono::milliseconds establishTimeout{30000};
    std::chrono::milliseconds stopTimeout{3000};
};

// charon's name for one service's connection (and its key).
std::string l2tpIpsecName(const std::string& serviceID);
// The "load-conn" body: IKEv1 main mode with a pre-shared key and one
// transport-mode CHILD_SA for L2TP (UDP 1701 both ways).
ViciSection l2tpIpsecConnection(const std::string& name, const std::string& remote);
// The "load-shared" body; it holds the key.
ViciSection l2tpIpsecSharedKey(const std::string& name, const std::string& secret);
// Why a request from the L2TP link must be refused, or empty.
std::string validateL2tpIpsec(const helper::ppp::IpsecTransport::Request& request);
// The user's reading of a failed initiate: the first cause in charon's log
// lines of it, else charon's own error.
std::string l2tpIpsecError(const std::vector<std::string>& log, const std::string& errmsg);

// L2TP's IPsec over the helper's one charon (never a daemon of its own).
class ViciIpsecTransport : public helper::ppp::IpsecTransport {
public:
    // A fresh VICI connection to that charon, starting it if need be.
    using Connector = std::function<std::shared_ptr<ViciClient>(ViciClient::EventHandler, std::string* error)>;

    // released runs when a service no longer needs charon (after down or a
    // failed up), with no VICI connection of ours still open.
    explicit ViciIpsecTransport(Connector connector, L2tpIpsecOptions options = {},
                                std::function<void()> released = {});

    bool up(const Request& request, std::string* error) override;
    void down(const std::string& serviceID) override;

private:
    void remove(ViciClient& vici, const std::string& name);

    Connector connect_;
    L2tpIpsecOptions options_;
    std::function<void()> released_;
    std::mutex mutex_;  // one up or down at a time
    std::set<std::string> active_;  // services whose SA up() brought up
};

class IkeService;
// The transport over service's charon; it does not keep service alive.
std::shared_ptr<helper::ppp::IpsecTransport> makeL2tpIpsecTransport(const std::shared_ptr<IkeService>& service);

}  // namespace hw::ike
