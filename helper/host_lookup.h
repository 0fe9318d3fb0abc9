#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace hw::helper {

// The first IPv4 address of host, asked of the given resolvers (IPv4
// addresses, tried in turn) over UDP from a socket that carries the lock's
// mark: under the kill switch, the one road to a resolver it leaves. An
// address given as the host answers for itself. Blocks for at most about
// `perResolver` for each resolver.
std::optional<std::string> lookUpHost(const std::string& host, const std::vector<std::string>& resolvers,
                                      std::chrono::milliseconds perResolver = std::chrono::milliseconds(2000));

}  // namespace hw::helper
