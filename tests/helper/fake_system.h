#pragma once
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "helper/command_dispatcher.h"
#include "helper/helper_services.h"
#include "platform/helper_socket.h"
#include "support/fake_process_runner.h"

namespace hw::helper::test {

// Stands in for ip and nft: keeps the default routes and our table, and
// answers the queries the helper makes.
struct FakeNetwork {
    struct Route {
        std::string gateway, device;
        int metric = 0;
    };
    std::vector<Route> defaults{{"192.168.1.1", "eth0", 100}};
    bool tablePresent = false;
    std::string lastRuleset;
    bool nftFails = false;

    ProcessResult answer(const ProcessRequest& r) {
        const auto& a = r.argv;
        auto is = [&](std::initializer_list<const char*> prefix) {
            if (a.size() < prefix.size()) return false;
            std::size_t i = 0;
            for (auto p : prefix)
                if (a[i++] != p) return false;
            return true;
        };
        if (is({"ip", "-j", "-4", "route", "show", "default"})) {
            std::string out = "[";
            for (const auto& d : defaults)
                out += std::string(out.size() > 1 ? "," : "") + R"({"dst":"default","gateway":")" + d.gateway +
                       R"(","dev":")" + d.device + R"(","metric":)" + std::to_string(d.metric) + "}";
            return hw::test::FakeProcessRunner::exited(0, out + "]\n");
        }
        if (is({"ip", "-4", "route", "del", "default"})) {
            if (defaults.empty()) return hw::test::FakeProcessRunner::exited(2, "", "RTNETLINK answers: No such process");
            defaults.erase(defaults.begin());
            return hw::test::FakeProcessRunner::exited(0);
        }
        if (is({"ip", "-4", "route", "replace", "default", "via"})) {
            defaults = {{a[6], a.size() > 8 ? a[8] : "eth0", 0}};
            return hw::test::FakeProcessRunner::exited(0);
        }
        if (is({"nft", "-f", "-"})) {
            if (nftFails) return hw::test::FakeProcessRunner::exited(1, "", "Error: syntax error");
            lastRuleset = r.stdinData.value_or("");
            tablePresent = lastRuleset.find("policy drop") != std::string::npos;
            return hw::test::FakeProcessRunner::exited(0);
        }
        return hw::test::FakeProcessRunner::exited(0, "[]");
    }
};

// A scratch folder for the helper's files, removed afterwards.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "hw-helper-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
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

inline std::string rpc(CommandDispatcher& d, const std::string& name, HelperDictionary parameters = {}) {
    HelperMessage m{{"type", kHelperToolRpc}, {"rpc", name}};
    if (!parameters.empty()) m["parameters"] = HelperValue(std::move(parameters));
    auto reply = call(d, std::move(m));
    if (!reply) return "<no reply>";
    auto text = helperString(*reply, "reply");
    return text ? *text : "<no reply string>";
}

}  // namespace hw::helper::test
