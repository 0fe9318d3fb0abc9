#include <cstddef>
#include <cstdint>

#include "platform/netlink_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    hw::netlink::parseRouteReply(data, size, 1);
    hw::netlink::parseLinkReply(data, size, 1);
    hw::netlink::carriesChange(data, size);
    return 0;
}
