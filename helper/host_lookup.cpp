#include "helper/host_lookup.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "helper/nft_ruleset.h"
#include "platform/helper_message.h"

namespace hw::helper {

namespace {

std::optional<std::string> firstAddress(const unsigned char* answer, int length, const unsigned char* query) {
    // Only the answer to our own question counts, not a stray datagram.
    if (length < NS_HFIXEDSZ || std::memcmp(answer, query, 2) != 0) return std::nullopt;
    ns_msg message;
    if (ns_initparse(answer, length, &message) != 0 || ns_msg_getflag(message, ns_f_rcode) != ns_r_noerror)
        return std::nullopt;
    for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
        ns_rr record;
        if (ns_parserr(&message, ns_s_an, i, &record) != 0) return std::nullopt;
        if (ns_rr_type(record) != ns_t_a || ns_rr_class(record) != ns_c_in || ns_rr_rdlen(record) != 4) continue;
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, ns_rr_rdata(record), text, sizeof(text))) return std::string(text);
    }
    return std::nullopt;
}

std::optional<std::string> ask(const in_addr& resolver, const unsigned char* query, int queryLength,
                               std::chrono::milliseconds wait) {
    UniqueFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const unsigned mark = kLockMark;
    if (!s || ::setsockopt(s.get(), SOL_SOCKET, SO_MARK, &mark, sizeof(mark)) != 0) return std::nullopt;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(NS_DEFAULTPORT);
    to.sin_addr = resolver;
    // Connected: the kernel passes on only the resolver's own answers.
    if (::connect(s.get(), reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0 ||
        ::send(s.get(), query, static_cast<std::size_t>(queryLength), 0) != queryLength)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    unsigned char answer[NS_PACKETSZ * 4];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{s.get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) return std::nullopt;
        const ssize_t n = ::recv(s.get(), answer, sizeof(answer), 0);
        if (n < 0) return std::nullopt;
        if (auto address = firstAddress(answer, static_cast<int>(n), query)) return address;
        if (n >= NS_HFIXEDSZ && std::memcmp(answer, query, 2) == 0) return std::nullopt;  // answered: no address
    }
}

}  // namespace

std::optional<std::string> lookUpHost(const std::string& host, const std::vector<std::string>& resolvers,
                                      std::chrono::milliseconds perResolver) {
    in_addr literal{};
    if (::inet_pton(AF_INET, host.c_str(), &literal) == 1) return host;
    if (host.empty() || host.size() > 253) return std::nullopt;
    struct __res_state state;
    std::memset(&state, 0, sizeof(state));
    if (res_ninit(&state) != 0) return std::nullopt;
    unsigned char query[NS_PACKETSZ];
    const int length = res_nmkquery(&state, ns_o_query, host.c_str(), ns_c_in, ns_t_a, nullptr, 0, nullptr, query,
                                    sizeof(query));
    res_nclose(&state);
    if (length <= 0) return std::nullopt;
    for (const auto& resolver : resolvers) {
        in_addr address{};
        if (::inet_pton(AF_INET, resolver.c_str(), &address) != 1) continue;
        if (auto found = ask(address, query, length, perResolver)) return found;
    }
    return std::nullopt;
}

}  // namespace hw::helper
