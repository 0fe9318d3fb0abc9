#pragma once
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/helper_message.h"
#include "support/manual_queue.h"

namespace hw::test {

// openvpn's management interface as a test plays it: the far end of a
// connected pair, whose near end goes to the connector as the helper would
// hand it over; lines both ways, every wait bounded.
class FakeManagementServer {
public:
    FakeManagementServer() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
        client_ = fds[0];
        handOver_ = UniqueFd(fds[1]);
    }
    ~FakeManagementServer() {
        if (client_ >= 0) ::close(client_);
    }

    UniqueFd handOver() { return std::move(handOver_); }

    void send(const std::string& line) { ::send(client_, line.data(), line.size(), MSG_NOSIGNAL); }
    // openvpn ends its lines with CR LF.
    void sendLine(const std::string& line) { send(line + "\r\n"); }

    // The next line from the client, none when nothing came in time or it closed.
    std::optional<std::string> readLine(std::chrono::milliseconds within = std::chrono::seconds(5)) {
        auto deadline = std::chrono::steady_clock::now() + within;
        while (true) {
            if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{client_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) != 1) return std::nullopt;
            char buf[1024];
            ssize_t n = ::recv(client_, buf, sizeof buf, 0);
            if (n <= 0) return std::nullopt;
            buffer_.append(buf, static_cast<std::size_t>(n));
        }
    }
    bool clientClosed(std::chrono::milliseconds within = std::chrono::seconds(5)) {
        while (auto line = readLine(within)) {
        }
        pollfd p{client_, POLLIN, 0};
        if (::poll(&p, 1, 0) != 1) return false;
        char c;
        return ::recv(client_, &c, 1, MSG_PEEK) == 0;
    }
    void closeClient() {
        ::close(client_);
        client_ = -1;
    }

private:
    int client_ = -1;
    UniqueFd handOver_;
    std::string buffer_;
};

// Runs the queue until pred holds; the other side is a real thread.
template <typename Pred>
bool pumpUntil(ManualQueue& queue, Pred pred, std::chrono::milliseconds within = std::chrono::seconds(5)) {
    auto deadline = std::chrono::steady_clock::now() + within;
    while (true) {
        queue.runUntilIdle();
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace hw::test
