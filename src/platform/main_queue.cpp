#include "platform/main_queue.h"

#include <cmath>
#include <limits>

namespace hw {

std::int64_t delayToMillis(double ms) {
    if (std::isnan(ms) || ms <= 0) return 0;
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    if (ms >= static_cast<double>(kMax)) return kMax;
    return static_cast<std::int64_t>(ms);
}

}  // namespace hw
