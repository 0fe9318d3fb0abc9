#pragma once
// The built helper as root in a network namespace, every path it uses under
// one folder (its run folder where the bench names one), spoken to over its
// socket as the app does: a reply channel of its own for each request.
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/helper_message.h"
#include "platform/helper_socket.h"
#include "support/netns_rig.h"

class BenchHelper {
public:
    BenchHelper(std::string dir, std::string runDir, std::vector<std::string> extraEnvironment = {})
        : dir_(std::move(dir)), runDir_(std::move(runDir)), extra_(std::move(extraEnvironment)) {}

    // Serves root and nothing else; true once its socket answers (bounded).
    bool start(const std::string& ns) {
        std::ofstream(dir_ + "/helper.conf") << "uid=0\n";
        std::ofstream(dir_ + "/resolv.conf") << "nameserver 10.77.0.1\n";
        std::vector<std::string> env{"HAVENWAY_HELPER_SOCKET=" + dir_ + "/helper.sock",
                                     "HAVENWAY_HELPER_CONF=" + dir_ + "/helper.conf",
                                     "HAVENWAY_HELPER_STATE_DIR=" + dir_ + "/state",
                                     "HAVENWAY_HELPER_RUN_DIR=" + runDir_,
                                     "HAVENWAY_RESOLV_CONF=" + dir_ + "/resolv.conf",
                                     "HAVENWAY_RESOLVED_DIR=" + dir_ + "/no-resolved"};
        env.insert(env.end(), extra_.begin(), extra_.end());
        child_ = hw::test::ChildProcess({"ip", "netns", "exec", ns, HW_BINARY_DIR "/helper/havenway-helper"},
                                        dir_ + "/helper.log", env);
        return hw::test::waitFor([&] { return connect(); }, std::chrono::seconds(10));
    }

    int socket() const { return fd_.get(); }

    // One request on fd; the reply's "reply" text.
    static std::string call(int fd, const hw::HelperMessage& m, int timeoutMs = 30000) {
        auto [mine, theirs] = hw::makeHelperSocketPair();
        if (!hw::sendHelperMessage(fd, m, theirs.get(), 5000, nullptr)) return "<send failed>";
        theirs.reset();
        auto reply = hw::receiveHelperMessage(mine.get(), timeoutMs, nullptr);
        const std::string* text = reply ? hw::helperString(reply->message, "reply") : nullptr;
        return text ? *text : "<no reply>";
    }
    std::string rpc(const std::string& name, const hw::HelperDictionary& parameters) {
        hw::HelperMessage m{{"type", "helper_tool_rpc"}, {"rpc", name}};
        if (!parameters.empty()) m["parameters"] = hw::HelperValue(parameters);
        return call(fd_.get(), m);
    }

private:
    bool connect() {
        hw::UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", (dir_ + "/helper.sock").c_str());
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
        fd_ = std::move(fd);
        return true;
    }

    std::string dir_, runDir_;
    std::vector<std::string> extra_;
    hw::test::ChildProcess child_;
    hw::UniqueFd fd_;
};
