#include <arpa/inet.h>
#include <poll.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <nftables/libnftables.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "helper/helper_validation.h"
#include "helper/network_stack.h"
#include "platform/log.h"
#include "platform/netlink_message.h"

namespace hw::helper {

namespace {

constexpr const char* kLog = "NetworkStack";
constexpr int kReplyTimeoutMs = 5000;
// A neighbour on the link answers within milliseconds; the kernel's own
// probes of a silent one take about three seconds to fail.
constexpr int kNeighbourWaitMs = 1500;

// The names ip gives the route protocols the helper saves and restores.
struct Protocol {
    const char* name;
    unsigned char value;
};
constexpr Protocol kProtocols[] = {{"redirect", RTPROT_REDIRECT}, {"kernel", RTPROT_KERNEL}, {"boot", RTPROT_BOOT},
                                   {"static", RTPROT_STATIC},     {"ra", RTPROT_RA},         {"dhcp", RTPROT_DHCP},
                                   {"zebra", RTPROT_ZEBRA},       {"bird", RTPROT_BIRD},     {"babel", RTPROT_BABEL},
                                   {"bgp", RTPROT_BGP},           {"isis", RTPROT_ISIS},     {"ospf", RTPROT_OSPF},
                                   {"rip", RTPROT_RIP},           {"eigrp", RTPROT_EIGRP}};

std::string protocolName(unsigned char value) {
    for (const auto& p : kProtocols)
        if (p.value == value) return p.name;
    return std::to_string(value);
}

std::optional<unsigned char> protocolValue(const std::string& name) {
    if (name.empty()) return RTPROT_BOOT;
    for (const auto& p : kProtocols)
        if (name == p.name) return p.value;
    if (!name.empty() && name.size() <= 3 && name.find_first_not_of("0123456789") == std::string::npos &&
        std::stoi(name) <= 255)
        return static_cast<unsigned char>(std::stoi(name));
    return std::nullopt;
}

// Empty for no address (a route without a gateway).
std::string text(unsigned char family, const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != (family == AF_INET ? 4u : 16u)) return "";
    char out[INET6_ADDRSTRLEN] = {};
    return ::inet_ntop(family, bytes.data(), out, sizeof out) ? out : "";
}

std::optional<std::vector<std::uint8_t>> bytes(unsigned char family, const std::string& address) {
    std::vector<std::uint8_t> out(family == AF_INET ? 4 : 16);
    if (::inet_pton(family, address.c_str(), out.data()) != 1) return std::nullopt;
    return out;
}

unsigned char familyOf(const std::string& address) {
    return addressFamily(address) == AddressFamily::V6 ? AF_INET6 : AF_INET;
}

std::string deviceName(int index) {
    char name[IF_NAMESIZE] = {};
    return index > 0 && ::if_indextoname(static_cast<unsigned>(index), name) ? name : "";
}

class KernelNetworkStack final : public NetworkStack {
public:
    KernelNetworkStack() : nft_(::nft_ctx_new(NFT_CTX_DEFAULT)) {
        if (nft_) {
            ::nft_ctx_buffer_output(nft_);
            ::nft_ctx_buffer_error(nft_);
        }
    }
    ~KernelNetworkStack() override {
        if (nft_) ::nft_ctx_free(nft_);
        if (socket_ >= 0) ::close(socket_);
    }

    std::vector<Route> defaultRoutes4() override {
        std::vector<Route> out;
        for (const auto& r : dumpRoutes(AF_INET)) {
            if (r.destinationLength != 0 || r.multipath || !leadsSomewhere(r)) continue;
            out.push_back({"default", text(AF_INET, r.gateway), deviceName(r.outputInterface), r.priority.value_or(0),
                           protocolName(r.protocol)});
        }
        return out;
    }

    std::vector<Route> hostRoutes4() override {
        std::vector<Route> out;
        for (const auto& r : dumpRoutes(AF_INET)) {
            if (r.destinationLength != 32 || r.multipath || r.table != RT_TABLE_MAIN || !leadsSomewhere(r)) continue;
            out.push_back({text(AF_INET, r.destination), text(AF_INET, r.gateway), deviceName(r.outputInterface),
                           r.priority, protocolName(r.protocol)});
        }
        return out;
    }

    std::vector<Route> routes6(const std::string& device) override {
        std::vector<Route> out;
        const int index = static_cast<int>(::if_nametoindex(device.c_str()));
        if (index == 0) return out;
        for (const auto& r : dumpRoutes(AF_INET6)) {
            if (r.outputInterface != index || r.type != RTN_UNICAST || r.multipath) continue;
            std::string destination = r.destinationLength == 0 ? "default" : text(AF_INET6, r.destination);
            if (r.destinationLength != 0 && r.destinationLength != 128)
                destination.append("/").append(std::to_string(r.destinationLength));
            out.push_back({destination, r.gateway.empty() ? "" : text(AF_INET6, r.gateway), device, r.priority,
                           protocolName(r.protocol)});
        }
        return out;
    }

    bool replaceRoute(const Route& route) override { return changeRoute(true, route); }
    bool deleteRoute(const Route& route) override { return changeRoute(false, route); }

    std::vector<Address6> addresses6(const std::string& device) override {
        std::vector<Address6> out;
        const int index = static_cast<int>(::if_nametoindex(device.c_str()));
        if (index == 0) return out;
        std::vector<netlink::AddressEntry> entries;
        dump(netlink::addressDump(AF_INET6, ++seq_), [&](const std::uint8_t* d, std::size_t n, int* error) {
            return netlink::parseAddressDump(d, n, seq_, entries, error);
        });
        for (const auto& a : entries) {
            if (a.interface != index || a.family != AF_INET6) continue;
            out.push_back({text(AF_INET6, a.address) + "/" + std::to_string(a.prefixLength), a.scope == RT_SCOPE_UNIVERSE,
                           (a.flags & IFA_F_PERMANENT) == 0, (a.flags & IFA_F_TEMPORARY) != 0});
        }
        return out;
    }

    bool replaceAddress6(const std::string& device, const std::string& prefix) override {
        netlink::AddressEntry a;
        a.family = AF_INET6;
        a.interface = static_cast<int>(::if_nametoindex(device.c_str()));
        const auto slash = prefix.find('/');
        auto address = bytes(AF_INET6, prefix.substr(0, slash));
        if (a.interface == 0 || slash == std::string::npos || !address) return failed("address " + prefix, ENODEV);
        a.address = *address;
        a.prefixLength = static_cast<unsigned char>(std::stoi(prefix.substr(slash + 1)));
        return request(netlink::addressChange(a, ++seq_), "address " + prefix + " dev " + device);
    }

    bool isOwnAddress(const std::string& address) override { return isThisMachinesAddress(address); }

    bool neighbourAnswers(const std::string& address) override {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);  // discard: the datagram only makes the kernel ask for the neighbour
        if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) return false;
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return failed("neighbour probe socket", errno);
        const bool sent = ::sendto(fd, "", 0, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
        ::close(fd);
        if (!sent) return false;  // no link leads there
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kNeighbourWaitMs);
        for (;;) {
            if (neighbourComplete(address)) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::vector<std::string> linkNames() override {
        std::vector<std::string> out;
        if (auto* all = ::if_nameindex()) {
            for (auto* i = all; i->if_index != 0; ++i) out.emplace_back(i->if_name);
            ::if_freenameindex(all);
        }
        return out;
    }

    bool applyRuleset(const std::string& ruleset) override {
        if (!nft_) return failed("nft context", ENOMEM);
        const bool ok = ::nft_run_cmd_from_buffer(nft_, ruleset.c_str()) == 0;
        std::string why = ::nft_ctx_get_error_buffer(nft_);
        if (!ok) {
            while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
            log::warning(kLog, "nft transaction failed: " + why.substr(0, 300));
        }
        return ok;
    }

private:
    // Through a gateway, or out of a link with none (a modem's PPP link).
    static bool leadsSomewhere(const netlink::RouteEntry& r) {
        return r.type == RTN_UNICAST && (!r.gateway.empty() || r.outputInterface > 0);
    }

    // The kernel's IPv4 neighbour table as this namespace sees it: a
    // complete entry (ATF_COM) is a host that answered.
    static bool neighbourComplete(const std::string& address) {
        std::ifstream table("/proc/net/arp");
        std::string line;
        std::getline(table, line);  // the heading
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string ip, type, flags;
            if (!(fields >> ip >> type >> flags) || ip != address) continue;
            return (std::strtoul(flags.c_str(), nullptr, 16) & 0x2) != 0;
        }
        return false;
    }

    bool failed(const std::string& what, int error) {
        log::warning(kLog, what + " failed: " + std::strerror(error));
        return false;
    }

    bool open() {
        if (socket_ >= 0) return true;
        socket_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (socket_ < 0) return failed("rtnetlink socket", errno);
        timeval tv{kReplyTimeoutMs / 1000, 0};
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        int strict = 1;
        ::setsockopt(socket_, SOL_NETLINK, NETLINK_EXT_ACK, &strict, sizeof strict);
        return true;
    }

    bool send(const std::vector<std::uint8_t>& message) {
        if (message.empty()) return failed("netlink message", EINVAL);
        if (!open()) return false;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(socket_, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
            return failed("netlink send", errno);
        return true;
    }

    // Reads datagrams until `take` says the answer is complete.
    bool receive(const std::function<bool(const std::uint8_t*, std::size_t)>& take) {
        std::vector<std::uint8_t> buffer(32768);
        for (;;) {
            const ssize_t n = ::recv(socket_, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // A socket that lost its place in the conversation is made anew.
                const int error = n < 0 ? errno : EPIPE;
                ::close(socket_);
                socket_ = -1;
                return failed("netlink receive", error);
            }
            if (take(buffer.data(), static_cast<std::size_t>(n))) return true;
        }
    }

    bool request(const std::vector<std::uint8_t>& message, const std::string& what) {
        const std::uint32_t seq = seq_;
        if (!send(message)) return false;
        int error = 0;
        if (!receive([&](const std::uint8_t* d, std::size_t n) {
                auto ack = netlink::parseAck(d, n, seq);
                if (ack) error = *ack;
                return ack.has_value();
            }))
            return false;
        return error == 0 || failed(what, error);
    }

    void dump(const std::vector<std::uint8_t>& message,
              const std::function<bool(const std::uint8_t*, std::size_t, int*)>& parse) {
        if (!send(message)) return;
        int error = 0;
        if (receive([&](const std::uint8_t* d, std::size_t n) { return parse(d, n, &error); }) && error != 0)
            failed("netlink dump", error);
    }

    std::vector<netlink::RouteEntry> dumpRoutes(unsigned char family) {
        std::vector<netlink::RouteEntry> all;
        const std::uint32_t seq = ++seq_;
        dump(netlink::routeDump(family, seq), [&](const std::uint8_t* d, std::size_t n, int* error) {
            return netlink::parseRouteDump(d, n, seq, all, error);
        });
        std::erase_if(all, [](const auto& r) { return r.table != RT_TABLE_MAIN; });
        return all;
    }

    bool changeRoute(bool add, const Route& route) {
        const std::string what = std::string(add ? "route replace " : "route del ") + route.destination +
                                 (route.gateway.empty() ? "" : " via " + route.gateway) +
                                 (route.device.empty() ? "" : " dev " + route.device);
        netlink::RouteEntry r;
        const std::string sample = route.destination == "default" ? route.gateway : route.destination;
        r.family = route.destination == "default" && route.gateway.empty() ? AF_INET : familyOf(sample.substr(0, sample.find('/')));
        if (route.destination != "default") {
            const auto slash = route.destination.find('/');
            auto destination = bytes(r.family, route.destination.substr(0, slash));
            if (!destination) return failed(what, EINVAL);
            r.destination = *destination;
            r.destinationLength = static_cast<unsigned char>(
                slash == std::string::npos ? r.destination.size() * 8 : std::stoi(route.destination.substr(slash + 1)));
        }
        if (!route.gateway.empty()) {
            auto gateway = bytes(r.family, route.gateway);
            if (!gateway) return failed(what, EINVAL);
            r.gateway = *gateway;
        }
        if (!route.device.empty()) {
            r.outputInterface = static_cast<int>(::if_nametoindex(route.device.c_str()));
            if (r.outputInterface == 0) return failed(what, ENODEV);
        }
        r.priority = route.metric;
        auto protocol = protocolValue(route.protocol);
        if (!protocol) return failed(what, EINVAL);
        r.protocol = *protocol;
        return request(netlink::routeChange(add, r, ++seq_), what);
    }

    nft_ctx* nft_;
    int socket_ = -1;
    std::uint32_t seq_ = 0;
};

}  // namespace

std::unique_ptr<NetworkStack> makeKernelNetworkStack() { return std::make_unique<KernelNetworkStack>(); }

}  // namespace hw::helper
