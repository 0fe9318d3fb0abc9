#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "support/manual_queue.h"

namespace hw::test {

// openvpn's management port as a test plays it: one listening socket on
// loopback (an ephemeral port), one client, lines both ways, every wait bounded.
class FakeManagementServer {
public:
    explicit FakeManagementServer(std::uint16_t port = 0) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listen_, 4) != 0) return;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~FakeManagementServer() {
        if (client_ >= 0) ::close(client_);
        if (listen_ >= 0) ::close(listen_);
    }

    std::uint16_t port() const { return port_; }

    bool accept(std::chrono::milliseconds within = std::chrono::seconds(5)) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(within.count())) != 1) return false;
        client_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        return client_ >= 0;
    }
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
    // True when the client closed its end within the time.
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
    int listen_ = -1;
    int client_ = -1;
    std::uint16_t port_ = 0;
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
