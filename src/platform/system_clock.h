#pragma once
#include "platform/clock.h"

namespace hw {

// Wall time from CLOCK_REALTIME; steady time from CLOCK_BOOTTIME, which never
// goes back and keeps counting while the machine sleeps.
class SystemClock final : public Clock {
public:
    double wallSeconds() const override;
    std::int64_t steadyMillis() const override;
};

}  // namespace hw
