#pragma once
#include <cstdint>

namespace hw {

// What an event names as its own: the attempt and the try it belongs to.
// Attempt 0 names none (a tunnel taken over, which no try of ours began).
struct ConnectionTicket {
    std::uint64_t attempt = 0;
    std::uint64_t tryNo = 0;
    bool operator==(const ConnectionTicket&) const = default;
};

}  // namespace hw
