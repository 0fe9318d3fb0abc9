#pragma once
// The real helper binary as root in a network namespace, with every path it
// uses under one folder, driven over its real socket.
#include <signal.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fake_system.h"
#include "platform/helper_connection.h"
#include "support/child_process.h"
#include "support/fake_helper_tool.h"
#include "support/netns_rig.h"

namespace hw::helper::test {

class RunningHelper {
public:
    // dir holds helper.conf, resolv.conf, the socket, state/ and run/.
    RunningHelper(std::string netns, std::string dir, std::vector<std::string> extraEnvironment = {})
        : netns_(std::move(netns)), dir_(std::move(dir)), extra_(std::move(extraEnvironment)) {}
    ~RunningHelper() {
        client_.reset();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            hw::test::waitChild(pid_, std::chrono::seconds(10));
        }
        if (::testing::Test::HasFailure()) std::cerr << "helper log:\n" << hw::test::readText(dir_ + "/helper.log");
    }

    std::string socketPath() const { return dir_ + "/helper.sock"; }

    // Serves; true once its socket answers (bounded).
    bool start() {
        pid_ = spawn({});
        if (pid_ <= 0) return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            client_ = std::make_unique<HelperConnection>(queue_);
            if (client_->connect(socketPath(), nullptr)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        client_.reset();
        return false;
    }
    // A run to completion (--reset ...); its exit code, -1 when killed.
    int runOnce(std::vector<std::string> args) {
        const pid_t pid = spawn(std::move(args));
        return pid > 0 ? hw::test::waitChild(pid, std::chrono::seconds(30)) : -1;
    }
    // SIGTERM; the serving helper's exit code.
    int stop() { return end(SIGTERM); }
    // A crash: nothing of the helper's own clean-up runs.
    void kill() { end(SIGKILL); }
    pid_t pid() const { return pid_; }

    std::optional<HelperMessage> request(HelperMessage m) {
        if (!client_) return std::nullopt;
        std::optional<HelperReply> reply;
        client_->send(std::move(m), [&](HelperReply r) { reply = std::move(r); });
        if (!queue_.waitFor([&] { return reply.has_value(); }) || !reply->ok()) return std::nullopt;
        return reply->message;
    }
    std::string rpc(const std::string& name, HelperDictionary parameters = {}) {
        return replyText(request(rpcMessage(name, std::move(parameters))));
    }

private:
    pid_t spawn(std::vector<std::string> extraArgs) {
        std::vector<std::string> args{"ip", "netns", "exec", netns_, HW_BINARY_DIR "/helper/havenway-helper"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        std::vector<std::string> env{"HAVENWAY_HELPER_SOCKET=" + socketPath(),
                                     "HAVENWAY_HELPER_CONF=" + dir_ + "/helper.conf",
                                     "HAVENWAY_HELPER_STATE_DIR=" + dir_ + "/state",
                                     "HAVENWAY_HELPER_RUN_DIR=" + dir_ + "/run",
                                     "HAVENWAY_RESOLV_CONF=" + dir_ + "/resolv.conf",
                                     "HAVENWAY_RESOLVED_DIR=" + dir_ + "/no-resolved",
                                     "ASAN_OPTIONS=detect_leaks=0"};
        env.insert(env.end(), extra_.begin(), extra_.end());
        return hw::test::spawnLogged(std::move(args), dir_ + "/helper.log", env);
    }
    int end(int signal) {
        client_.reset();
        if (pid_ <= 0) return -1;
        ::kill(pid_, signal);
        const int code = hw::test::waitChild(pid_, std::chrono::seconds(10));
        pid_ = -1;
        return code;
    }

    std::string netns_;
    std::string dir_;
    std::vector<std::string> extra_;
    hw::test::HelperTestQueue queue_;
    std::unique_ptr<HelperConnection> client_;
    pid_t pid_ = -1;
};

}  // namespace hw::helper::test
