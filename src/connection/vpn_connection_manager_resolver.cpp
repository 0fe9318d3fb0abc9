#include "connection/vpn_connection_manager_resolver.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

#include <cstring>

namespace hw {

std::optional<std::string> DNSServerHostResolver::resolveNow(const std::string& host,
                                                             const std::vector<std::string>& servers) {
    if (host.empty() || host.size() > 253) return std::nullopt;
    struct __res_state state;
    std::memset(&state, 0, sizeof(state));
    if (res_ninit(&state) != 0) return std::nullopt;
    int count = 0;
    for (const auto& server : servers) {
        in_addr address{};
        if (count >= MAXNS || ::inet_pton(AF_INET, server.c_str(), &address) != 1) continue;
        sockaddr_in& slot = state.nsaddr_list[count++];
        slot = sockaddr_in{};
        slot.sin_family = AF_INET;
        slot.sin_port = htons(NS_DEFAULTPORT);
        slot.sin_addr = address;
    }
    if (count > 0) state.nscount = count;
    state.retrans = 2;
    state.retry = 2;
    unsigned char answer[NS_PACKETSZ * 4];
    const int length = res_nquery(&state, host.c_str(), ns_c_in, ns_t_a, answer, sizeof(answer));
    res_nclose(&state);
    if (length <= 0) return std::nullopt;
    ns_msg message;
    if (ns_initparse(answer, length, &message) != 0) return std::nullopt;
    for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
        ns_rr record;
        if (ns_parserr(&message, ns_s_an, i, &record) != 0) return std::nullopt;
        if (ns_rr_type(record) != ns_t_a || ns_rr_rdlen(record) != 4) continue;
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, ns_rr_rdata(record), text, sizeof(text))) return std::string(text);
    }
    return std::nullopt;
}

void DNSServerHostResolver::resolve(const std::string& host, const std::vector<std::string>& servers,
                                    std::function<void(std::optional<std::string>)> completion) {
    MainQueue* queue = &mainQueue_;
    background_.async([queue, host, servers, completion = std::move(completion)] {
        auto address = resolveNow(host, servers);
        queue->post([completion, address] {
            if (completion) completion(address);
        });
    });
}

}  // namespace hw
