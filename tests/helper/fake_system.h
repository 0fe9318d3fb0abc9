#pragma once
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "helper/command_dispatcher.h"
#include "helper/helper_services.h"
#include "helper/helper_validation.h"
#include "platform/helper_socket.h"
#include "support/fake_process_runner.h"
#include "support/temp_dir.h"

namespace hw::helper::test {

// Stands in for the kernel's routes and packet filter: keeps the default
// routes and our table, and notes each change as ip would be asked for it.
struct FakeNetwork final : NetworkStack {
    struct Default {
        std::string gateway, device;
        unsigned metric = 0;
    };
    std::vector<Default> defaults{{"192.168.1.1", "eth0", 100}};
    bool tablePresent = false;
    std::string lastRuleset;
    bool nftFails = false;
    // Gateways on no link of ours: the kernel refuses a route through them.
    std::vector<std::string> unreachable{"0.0.0.0"};
    std::vector<std::string> ops;  // "show default", "nft", "replace 1.2.3.4 via 5.6.7.8 dev eth0", ...
    std::map<std::string, std::vector<Address6>> addresses;
    std::map<std::string, std::vector<Route>> routes;

    static std::string describe(const Route& r) {
        std::string s = r.destination;
        if (!r.gateway.empty()) s += " via " + r.gateway;
        if (!r.device.empty()) s += " dev " + r.device;
        if (r.metric) s += " metric " + std::to_string(*r.metric);
        if (!r.protocol.empty()) s += " proto " + r.protocol;
        return s;
    }

    std::vector<Route> defaultRoutes4() override {
        ops.push_back("show default");
        std::vector<Route> out;
        for (const auto& d : defaults) out.push_back({"default", d.gateway, d.device, d.metric, "dhcp"});
        return out;
    }
    std::vector<Route> routes6(const std::string& device) override { return routes[device]; }
    // IPv4 host routes through a gateway, as replaced and deleted.
    std::vector<Route> hosts;
    std::vector<Route> hostRoutes4() override { return hosts; }
    bool replaceRoute(const Route& r) override {
        ops.push_back("replace " + describe(r));
        if (std::find(unreachable.begin(), unreachable.end(), r.gateway) != unreachable.end()) return false;
        // As the kernel: one default route per metric; one on the link names its device.
        if (r.destination == "default" &&
            (addressFamily(r.gateway) == AddressFamily::V4 || (r.gateway.empty() && !r.device.empty()))) {
            std::erase_if(defaults, [&](const Default& d) { return d.metric == r.metric.value_or(0); });
            defaults.push_back({r.gateway, r.device.empty() ? "eth0" : r.device, r.metric.value_or(0)});
        }
        if (isIPv4Address(r.destination) && (!r.gateway.empty() || !r.device.empty())) {
            std::erase_if(hosts, [&](const Route& h) { return h.destination == r.destination; });
            hosts.push_back(r);
        }
        return true;
    }
    bool deleteRoute(const Route& r) override {
        ops.push_back("del " + describe(r));
        std::erase_if(hosts, [&](const Route& h) { return h.destination == r.destination; });
        if (r.destination != "default") return true;
        // One named by its gateway or its link, else the first.
        auto it = r.gateway.empty() && r.device.empty()
                      ? defaults.begin()
                      : std::find_if(defaults.begin(), defaults.end(), [&](const Default& d) {
                            return (r.gateway.empty() ? d.device == r.device : d.gateway == r.gateway) &&
                                   (!r.metric || d.metric == *r.metric);
                        });
        if (it == defaults.end()) return false;
        defaults.erase(it);
        return true;
    }
    std::vector<Address6> addresses6(const std::string& device) override { return addresses[device]; }
    bool replaceAddress6(const std::string& device, const std::string& prefix) override {
        ops.push_back("address " + prefix + " dev " + device);
        return true;
    }
    // This machine's addresses; hosts on the link that never answer.
    std::vector<std::string> own{"127.0.0.1", "192.168.1.20"};
    std::vector<std::string> silent;
    bool isOwnAddress(const std::string& a) override { return std::find(own.begin(), own.end(), a) != own.end(); }
    bool neighbourAnswers(const std::string& a) override {
        auto in = [&](const std::vector<std::string>& v) { return std::find(v.begin(), v.end(), a) != v.end(); };
        return !in(unreachable) && !in(silent) && !in(own);
    }
    std::vector<std::string> links{"lo", "eth0"};
    std::vector<std::string> linkNames() override { return links; }
    bool applyRuleset(const std::string& ruleset) override {
        ops.push_back("nft");
        if (nftFails || (ruleset.rfind("add element", 0) == 0 && !tablePresent)) return false;
        lastRuleset = ruleset;
        if (ruleset.rfind("table inet", 0) == 0) tablePresent = lastRuleset.find("policy drop") != std::string::npos;
        return true;
    }
    bool did(const std::string& op) const { return std::find(ops.begin(), ops.end(), op) != ops.end(); }
};

// dir / "name": a path in it.
struct ScratchDir : hw::test::TempDir {
    std::string operator/(const std::string& name) const { return file(name); }
};

inline HelperPaths scratchPaths(const ScratchDir& dir) {
    HelperPaths p;
    p.socket = dir / "helper.sock";
    p.config = dir / "helper.conf";
    p.stateDir = dir / "state";
    p.runDir = dir / "run";
    p.resolvConf = dir / "resolv.conf";
    p.sysctlRoot = dir / "sys";
    p.procRoot = "/proc";
    p.resolvedDir = dir / "no-resolved";
    return p;
}

// Dispatches one message the way the server would and returns the reply.
inline std::optional<HelperMessage> call(CommandDispatcher& d, HelperMessage m, uid_t uid = 1000) {
    auto [mine, theirs] = makeHelperSocketPair();
    d.dispatch(HelperRequest(std::move(m), std::move(theirs), HelperPeer{1, uid, uid}));
    auto env = receiveHelperMessage(mine.get(), 1000, nullptr);
    if (!env) return std::nullopt;
    return env->message;
}

inline HelperMessage rpcMessage(const std::string& name, HelperDictionary parameters) {
    HelperMessage m{{"type", kHelperToolRpc}, {"rpc", name}};
    if (!parameters.empty()) m["parameters"] = HelperValue(std::move(parameters));
    return m;
}
inline std::string replyText(const std::optional<HelperMessage>& reply) {
    const std::string* text = reply ? helperString(*reply, "reply") : nullptr;
    return !reply ? "<no reply>" : text ? *text : "<no reply string>";
}
inline std::string rpc(CommandDispatcher& d, const std::string& name, HelperDictionary parameters = {}) {
    return replyText(call(d, rpcMessage(name, std::move(parameters))));
}

// The helper's services and commands over the fakes, its files in a scratch
// folder; restart() is a new helper process on the same files.
class HelperFixture : public ::testing::Test {
protected:
    HelperFixture() { restart(); }
    void restart() {
        services_ = std::make_unique<HelperServices>(runner_, net_, paths_);
        dispatcher_ = CommandDispatcher();
        registerAllCommands(dispatcher_, *services_);
    }
    std::string rpc(const std::string& name, HelperDictionary parameters = {}) {
        return test::rpc(dispatcher_, name, std::move(parameters));
    }

    ScratchDir dir_;
    FakeNetwork net_;
    hw::test::FakeProcessRunner runner_;
    HelperPaths paths_ = scratchPaths(dir_);
    std::unique_ptr<HelperServices> services_;
    CommandDispatcher dispatcher_;
};

}  // namespace hw::helper::test
