#pragma once
#include "platform/route_watch.h"

namespace hw {

// getaddrinfo; blocks for as long as the system resolver takes.
class SystemNameResolver final : public NameResolver {
public:
    std::vector<std::string> resolve(const std::string& host) override;
};

}  // namespace hw
