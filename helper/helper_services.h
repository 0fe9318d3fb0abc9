#pragma once
#include "helper/command_dispatcher.h"
#include "helper/dns_settings.h"
#include "helper/helper_context.h"
#include "helper/ipv6_settings.h"
#include "helper/network_lock.h"
#include "helper/process_records.h"

namespace hw::helper {

// Everything the helper's commands share; tunnel services get it too, to
// record the processes they start, let their server through the lock and
// hand over their DNS servers.
struct HelperServices {
    HelperServices(ProcessRunner& runner, NetworkStack& network, HelperPaths paths)
        : context(runner, network, std::move(paths)), lock(context), dns(context), ipv6(context),
          openvpnProcesses(context.paths.runDir + "/openvpn", context.paths.procRoot) {}

    HelperContext context;
    NetworkLock lock;
    DnsSettings dns;
    Ipv6Settings ipv6;
    ProcessRecords openvpnProcesses;

    // Undoes every system change the helper made (--reset).
    bool resetAll();
};

// The network commands of the helper: routes, kill switch, DNS, IPv6,
// openvpn clean-up, close.
void registerNetworkCommands(CommandDispatcher& dispatcher, HelperServices& services);

// Every command the helper answers. Tunnel services add their one line in
// helper_commands.cpp; until then their commands answer "NO".
void registerAllCommands(CommandDispatcher& dispatcher, HelperServices& services);

}  // namespace hw::helper
