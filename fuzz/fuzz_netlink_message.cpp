#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/netlink_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    hw::netlink::parseRouteReply(data, size, 1);
    hw::netlink::parseLinkReply(data, size, 1);
    hw::netlink::carriesChange(data, size);
    hw::netlink::parseAck(data, size, 1);
    std::vector<hw::netlink::RouteEntry> routes;
    std::vector<hw::netlink::AddressEntry> addresses;
    int error = 0;
    hw::netlink::parseRouteDump(data, size, 1, routes, &error);
    hw::netlink::parseAddressDump(data, size, 1, addresses, &error);
    return 0;
}
