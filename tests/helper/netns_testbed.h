#pragma once
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "helper/nft_ruleset.h"
#include "support/netns_rig.h"
#include "support/run_tool.h"

namespace hw::helper::test {

// Two network namespaces joined by a veth pair: "client", where the helper
// works (10.77.0.2, default route via 10.77.0.1), and "net", the rest of the
// world (10.77.0.1; 198.51.100.10 plays the VPN server, 203.0.113.20 any
// other host). Removed again on destruction, whatever happened.
class NetnsTestbed {
public:
    NetnsTestbed() : client(hw::test::NetnsRig::name("hwc")), net(hw::test::NetnsRig::name("hwn")) {}

    // Empty when ready, else why the tests must skip.
    std::string setUp() {
        if (auto why = hw::test::NetnsRig::unavailable(); !why.empty()) return why;
        if (!hw::test::runTool({"nft", "--version"}, std::chrono::seconds(10))) return "needs nft";
        bool ok = rig.link(client, "veth0", "10.77.0.2/24", net, "veth1", "10.77.0.1/24") &&
                  in(net, {"ip", "addr", "add", "198.51.100.10/32", "dev", "lo"}) &&
                  in(net, {"ip", "addr", "add", "203.0.113.20/32", "dev", "lo"}) &&
                  in(client, {"ip", "route", "add", "default", "via", "10.77.0.1"});
        return ok ? "" : "cannot wire the namespaces";
    }

    static bool in(const std::string& ns, std::vector<std::string> argv, std::string* out = nullptr) {
        argv.insert(argv.begin(), {"ip", "netns", "exec", ns});
        return hw::test::runTool(std::move(argv), std::chrono::seconds(10), out);
    }

    static void inside(const std::string& ns, const std::function<void()>& fn) { hw::test::NetnsRig::inside(ns, fn); }

    // A UDP datagram from the client namespace to host:port (IPv4 or IPv6);
    // true when a socket listening in `listenNs` got it within a second.
    bool udpGetsThrough(const std::string& host, const std::string& listenNs, int port = 9999) {
        return udpArrives(client, listenNs, host, port);
    }
    // The same from a socket with the mark of the helper's tunnel software.
    bool markedUdpGetsThrough(const std::string& host, const std::string& listenNs, int port = 9999) {
        return udpArrives(client, listenNs, host, port, {}, kLockMark);
    }
    // The same between any two namespaces; sent out of `device` when one is
    // named, past whatever routes a tunnel put in front. Sent also when the
    // port is taken in toNs (then only the sending counts).
    static bool udpArrives(const std::string& fromNs, const std::string& toNs, const std::string& host, int port,
                           const std::string& device = {}, unsigned mark = 0) {
        addrinfo hints{}, *to = nullptr, *any = nullptr;
        hints.ai_flags = AI_NUMERICHOST;
        hints.ai_socktype = SOCK_DGRAM;
        const std::string service = std::to_string(port);
        if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &to) != 0) return false;
        hints.ai_flags = AI_PASSIVE;
        hints.ai_family = to->ai_family;
        if (::getaddrinfo(nullptr, service.c_str(), &hints, &any) != 0) any = nullptr;
        int rx = -1, tx = -1;
        inside(toNs, [&] {
            rx = ::socket(to->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (!any || ::bind(rx, any->ai_addr, any->ai_addrlen) != 0) {
                ::close(rx);
                rx = -1;
            }
        });
        inside(fromNs, [&] {
            tx = ::socket(to->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (!device.empty()) ::setsockopt(tx, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(), device.size());
            if (mark) ::setsockopt(tx, SOL_SOCKET, SO_MARK, &mark, sizeof(mark));
        });
        bool got = false;
        const bool sent = tx >= 0 && ::sendto(tx, "x", 1, 0, to->ai_addr, to->ai_addrlen) == 1;
        if (sent && rx >= 0) {
            pollfd p{rx, POLLIN, 0};
            got = ::poll(&p, 1, 1000) == 1;
        }
        if (rx >= 0) ::close(rx);
        if (tx >= 0) ::close(tx);
        ::freeaddrinfo(to);
        if (any) ::freeaddrinfo(any);
        return got;
    }

    // Packets our table dropped on the way out.
    long long droppedOut() { return droppedOutIn(client); }
    // -1 when our table is not there.
    static long long droppedOutIn(const std::string& ns) {
        std::string out;
        const bool ok = in(ns, {"nft", "list", "counter", "inet", "havenway", "dropped_out"}, &out);
        auto at = out.find("packets ");
        return !ok || at == std::string::npos ? -1 : std::stoll(out.substr(at + 8));
    }

    std::string defaultRoute() {
        std::string out;
        in(client, {"ip", "-4", "route", "show", "default"}, &out);
        return out;
    }

    hw::test::NetnsRig rig;
    std::string client;
    std::string net;
};

}  // namespace hw::helper::test
