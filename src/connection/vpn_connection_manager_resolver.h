#pragma once
#include "connection/vpn_connection_manager_ports.h"

namespace hw {

// Asks the given DNS servers (IPv4 addresses; the system's when none is
// usable) for a host's A record, off the main thread.
class DNSServerHostResolver final : public HostResolver {
public:
    DNSServerHostResolver(MainQueue& mainQueue, BackgroundQueue& background)
        : mainQueue_(mainQueue), background_(background) {}
    void resolve(const std::string& host, const std::vector<std::string>& servers,
                 std::function<void(std::optional<std::string>)> completion) override;

    // Blocking; the first IPv4 address of the host, or nothing.
    static std::optional<std::string> resolveNow(const std::string& host, const std::vector<std::string>& servers);

private:
    MainQueue& mainQueue_;
    BackgroundQueue& background_;
};

}  // namespace hw
