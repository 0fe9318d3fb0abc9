#pragma once
#include <cstdint>

namespace hw {

class Clock {
public:
    virtual ~Clock() = default;
    // Wall time, seconds since 1970; may jump.
    virtual double wallSeconds() const = 0;
    // Never runs backwards and keeps counting through suspend (CLOCK_BOOTTIME).
    virtual std::int64_t steadyMillis() const = 0;
};

}  // namespace hw
