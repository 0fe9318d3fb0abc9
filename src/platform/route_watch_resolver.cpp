#include "platform/route_watch_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>

namespace hw {

std::vector<std::string> SystemNameResolver::resolve(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return {};
    std::vector<std::string> v4, v6;
    for (auto* ai = found; ai; ai = ai->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        if (ai->ai_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr, text, sizeof text);
            if (std::find(v4.begin(), v4.end(), text) == v4.end()) v4.emplace_back(text);
        } else if (ai->ai_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr, text, sizeof text);
            if (std::find(v6.begin(), v6.end(), text) == v6.end()) v6.emplace_back(text);
        }
    }
    ::freeaddrinfo(found);
    v4.insert(v4.end(), v6.begin(), v6.end());
    return v4;
}

}  // namespace hw
