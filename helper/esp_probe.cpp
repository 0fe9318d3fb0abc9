#include "helper/esp_probe.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/xfrm.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstring>
#include <vector>

namespace hw::helper {

namespace {

// The probe's association: two documentation addresses, an SPI of ours.
constexpr std::uint32_t kProbeSpi = 0x4877aa01;
constexpr const char* kProbeSource = "192.0.2.1";
constexpr const char* kProbeDestination = "192.0.2.2";

// One netlink request with its attributes, as the kernel reads it.
class XfrmMessage {
public:
    XfrmMessage(std::uint16_t type, std::uint16_t flags, const void* body, std::size_t size) {
        bytes_.resize(NLMSG_SPACE(size));
        auto* header = reinterpret_cast<nlmsghdr*>(bytes_.data());
        header->nlmsg_type = type;
        header->nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
        header->nlmsg_seq = 1;
        std::memcpy(NLMSG_DATA(header), body, size);
    }
    void add(std::uint16_t type, const void* data, std::size_t size) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + NLA_ALIGN(NLA_HDRLEN + size));
        nlattr attribute{static_cast<std::uint16_t>(NLA_HDRLEN + size), type};
        std::memcpy(bytes_.data() + at, &attribute, sizeof attribute);
        std::memcpy(bytes_.data() + at + NLA_HDRLEN, data, size);
    }
    // An algorithm and its key, as XFRMA_ALG_CRYPT and XFRMA_ALG_AUTH carry them.
    void addAlgorithm(std::uint16_t type, const char* name, const std::vector<unsigned char>& key) {
        std::vector<unsigned char> algorithm(sizeof(xfrm_algo) + key.size());
        auto* a = reinterpret_cast<xfrm_algo*>(algorithm.data());
        std::strncpy(a->alg_name, name, sizeof a->alg_name - 1);
        a->alg_key_len = static_cast<unsigned>(key.size() * 8);
        std::memcpy(algorithm.data() + sizeof(xfrm_algo), key.data(), key.size());
        add(type, algorithm.data(), algorithm.size());
    }
    // Sends it and answers the kernel's verdict: 0, or the error number.
    int send() {
        reinterpret_cast<nlmsghdr*>(bytes_.data())->nlmsg_len = static_cast<std::uint32_t>(bytes_.size());
        const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_XFRM);
        if (fd < 0) return errno;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        int verdict = EIO;
        if (::sendto(fd, bytes_.data(), bytes_.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
            verdict = errno;
        } else {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            alignas(nlmsghdr) char answer[8192];
            for (bool waiting = true; waiting;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                pollfd p{fd, POLLIN, 0};
                if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                    verdict = ETIMEDOUT;
                    break;
                }
                const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    verdict = errno;
                    break;
                }
                // Walked by hand: the kernel's macros compare signed and unsigned.
                std::size_t length = static_cast<std::size_t>(n);
                for (std::size_t at = 0; length - at >= sizeof(nlmsghdr);) {
                    auto* h = reinterpret_cast<nlmsghdr*>(answer + at);
                    if (h->nlmsg_len < sizeof(nlmsghdr) || h->nlmsg_len > length - at) break;
                    at += NLMSG_ALIGN(h->nlmsg_len);
                    if (at > length) at = length;
                    if (h->nlmsg_type != NLMSG_ERROR || h->nlmsg_seq != 1) continue;
                    if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) continue;
                    verdict = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
                    waiting = false;
                    break;
                }
            }
        }
        ::close(fd);
        return verdict;
    }

private:
    std::vector<unsigned char> bytes_;
};

xfrm_address_t address(const char* text) {
    xfrm_address_t a{};
    ::inet_pton(AF_INET, text, &a.a4);
    return a;
}

std::vector<unsigned char> counting(std::size_t size) {
    std::vector<unsigned char> key(size);
    for (std::size_t i = 0; i < size; ++i) key[i] = static_cast<unsigned char>(i);
    return key;
}

}  // namespace

// Netlink rather than `ip xfrm`: no program started on the connect road.
void removeEspProbe(ProcessRunner&) {
    xfrm_usersa_id id{};
    id.daddr = address(kProbeDestination);
    id.spi = htonl(kProbeSpi);
    id.family = AF_INET;
    id.proto = IPPROTO_ESP;
    XfrmMessage del(XFRM_MSG_DELSA, 0, &id, sizeof id);
    const xfrm_address_t source = address(kProbeSource);
    del.add(XFRMA_SRCADDR, &source, sizeof source);
    del.send();
}

bool kernelSupportsEsp(ProcessRunner& runner, std::string* why) {
    xfrm_usersa_info sa{};
    sa.id.daddr = address(kProbeDestination);
    sa.id.spi = htonl(kProbeSpi);
    sa.id.proto = IPPROTO_ESP;
    sa.saddr = address(kProbeSource);
    sa.family = AF_INET;
    sa.mode = XFRM_MODE_TRANSPORT;
    sa.lft.soft_byte_limit = sa.lft.hard_byte_limit = XFRM_INF;
    sa.lft.soft_packet_limit = sa.lft.hard_packet_limit = XFRM_INF;
    XfrmMessage add(XFRM_MSG_NEWSA, NLM_F_CREATE | NLM_F_EXCL, &sa, sizeof sa);
    add.addAlgorithm(XFRMA_ALG_CRYPT, "cbc(aes)", counting(16));
    add.addAlgorithm(XFRMA_ALG_AUTH, "hmac(sha1)", counting(20));
    const int verdict = add.send();
    // A probe left behind by an earlier run proves the same.
    if (verdict != 0 && verdict != EEXIST) {
        if (why) *why = std::string("the kernel refused an ESP security association: ") + std::strerror(verdict);
        return false;
    }
    removeEspProbe(runner);
    return true;
}

}  // namespace hw::helper
