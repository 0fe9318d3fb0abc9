#pragma once
// charon's side of VICI for unit tests: each client it makes gets a
// socketpair whose far end a thread serves, answering every request as
// `answer` says and recording it.
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "helper/ike/vici_client.h"

namespace hw::ike::test {

class FakeCharon {
public:
    // Frames to send back; none: a plain success; one empty frame: silence.
    using Answer = std::function<void(const ViciPacket& request, std::vector<std::string>& out)>;
    explicit FakeCharon(Answer answer = {}) : answer_(std::move(answer)) {}
    ~FakeCharon() {
        for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
        for (auto& t : threads_) t.join();
        for (int fd : fds_) ::close(fd);
    }

    std::shared_ptr<ViciClient> client(ViciClient::EventHandler handler = {}) {
        int sv[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        auto client = std::make_shared<ViciClient>();
        if (handler) client->setEventHandler(std::move(handler));
        client->adopt(sv[1]);
        std::lock_guard lock(mutex_);
        ++connections;
        fds_.push_back(sv[0]);
        threads_.emplace_back([this, fd = sv[0]] { serve(fd); });
        return client;
    }

    // charon's end of the i-th client's connection.
    int serverEnd(std::size_t i) {
        std::lock_guard lock(mutex_);
        return fds_.at(i);
    }

    std::vector<std::string> names() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& p : seen_) out.push_back(p.name);
        return out;
    }
    ViciSection body(const std::string& command) {
        std::lock_guard lock(mutex_);
        for (const auto& p : seen_)
            if (p.name == command) return p.body;
        return {};
    }

    static std::string frame(ViciPacketType type, const std::string& name = {}, ViciSection body = {}) {
        ViciPacket p;
        p.type = type;
        p.name = name;
        p.body = std::move(body);
        return *encodeViciPacket(p);
    }
    static std::string reply(ViciPacketType requestType, bool success, const std::string& errmsg = {}) {
        if (requestType == ViciPacketType::EventRegister) return frame(ViciPacketType::EventConfirm);
        ViciSection body;
        body.set("success", success ? "yes" : "no");
        if (!errmsg.empty()) body.set("errmsg", errmsg);
        return frame(ViciPacketType::CmdResponse, {}, body);
    }
    static std::string event(const std::string& name, const std::string& msg) {
        ViciSection body;
        body.set("msg", msg);
        return frame(ViciPacketType::Event, name, body);
    }

    int connections = 0;

private:
    void serve(int fd) {
        ViciFrameReader frames;
        for (;;) {
            std::optional<std::string> payload;
            while (!(payload = frames.next())) {
                char buf[4096];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                frames.feed(std::string_view(buf, static_cast<std::size_t>(n)));
            }
            auto request = decodeViciPacket(*payload);
            ASSERT_TRUE(request);
            {
                std::lock_guard lock(mutex_);
                seen_.push_back(*request);
            }
            std::vector<std::string> out;
            if (answer_) answer_(*request, out);
            if (out.empty()) out.push_back(reply(request->type, true));
            for (const auto& bytes : out)
                if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) return;
        }
    }

    Answer answer_;
    std::mutex mutex_;
    std::vector<ViciPacket> seen_;
    std::vector<int> fds_;
    std::vector<std::thread> threads_;
};

}  // namespace hw::ike::test
