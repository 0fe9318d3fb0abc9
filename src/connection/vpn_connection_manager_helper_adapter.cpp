#include "connection/vpn_connection_manager_helper_adapter.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "platform/log.h"
#include "services/helper_tool/helper_tool_xpc_connector.h"

namespace hw {

namespace {
constexpr const char* kLog = "VPNConnectionManager";
}

bool VPNConnectionManagerHelperAdapter::isHelperToolPresent() {
    auto path = jobs_.programPath(HelperTool_XPC_Connector::kServiceName);
    struct stat st{};
    return path && ::stat(path->c_str(), &st) == 0;
}

void VPNConnectionManagerHelperAdapter::reEnableIPV6() {
    teardown("reEnableIPV6", [this](std::function<void()> done) {
        helper_.reEnableIPV6([done = std::move(done)](const std::string&) { done(); });
    });
}

void VPNConnectionManagerHelperAdapter::disableNetworkLock(const std::optional<std::string>& gatewayAddress,
                                                           StringBlock released) {
    teardown("disableNetworkLock", [this, gatewayAddress, released](std::function<void()> done) {
        std::weak_ptr<bool> alive = alive_;
        helper_.disableNetworkLock(gatewayAddress, [this, alive, released, done = std::move(done)](const std::string& reply) {
            // A helper that is gone tells nothing of the network: the replay's answer will.
            if (released && alive.lock() && !helper_.helperDied()) released(reply);
            done();
        });
    });
}

void VPNConnectionManagerHelperAdapter::restore_DNS_to_original(bool forOpenVPN, bool skipFallback) {
    teardown("restore_DNS_to_original", [this, forOpenVPN, skipFallback](std::function<void()> done) {
        helper_.restore_DNS_to_original(forOpenVPN, skipFallback,
                                        [done = std::move(done)](const std::string&) { done(); });
    });
}

void VPNConnectionManagerHelperAdapter::terminatePreviousOpenVPNProcesses(std::function<void(bool)> done) {
    // The caller hears the first answer only; a replay is the adapter's own.
    auto first = std::make_shared<std::function<void(bool)>>(std::move(done));
    teardown("terminatePreviousOpenVPNProcesses", [this, first](std::function<void()> answered) {
        helper_.terminatePreviousOpenVPNProcesses([first, answered = std::move(answered)](bool ended) {
            if (auto caller = std::exchange(*first, nullptr)) caller(ended);
            answered();
        });
    });
}

void VPNConnectionManagerHelperAdapter::teardown(const char* kind, Send send) {
    std::weak_ptr<bool> alive = alive_;
    send([this, alive, kind, send, given = starts_] {
        // Only a helper that is gone failed to do it; a refusal stands, and
        // so does a start given since, even one not answered yet.
        if (!alive.lock() || given != starts_ || !helper_.helperDied()) return;
        std::erase_if(replay_, [kind](const auto& r) { return std::strcmp(r.first, kind) == 0; });
        replay_.emplace_back(kind, send);
        if (!probe_) probe_ = queue_.startTimer(kProbeMs, true, [this] { probe(); });
    });
}

void VPNConnectionManagerHelperAdapter::probe() {
    std::weak_ptr<bool> alive = alive_;
    helper_.networkLockState([this, alive](std::optional<bool> answered) {
        if (!alive.lock() || !answered || replay_.empty()) return;
        probe_.reset();
        auto calls = std::exchange(replay_, {});
        log::info(kLog, "the helper answers again: what a Disconnect asked of it while it was gone is sent again");
        for (auto& [kind, send] : calls) teardown(kind, std::move(send));
        // The helper takes one connection's requests in order: this answer
        // comes once the calls sent again are done.
        helper_.networkLockState([this, alive](std::optional<bool> answered) {
            if (!alive.lock() || !answered || !replay_.empty()) return;
            log::info(kLog, "what the Disconnect asked of the helper is carried out");
            if (carriedOut_) carriedOut_();
        });
    });
}

void VPNConnectionManagerHelperAdapter::startGiven() {
    ++starts_;
    replay_.clear();
    probe_.reset();
}

}  // namespace hw
