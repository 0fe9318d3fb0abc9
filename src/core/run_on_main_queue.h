#pragma once
#include <utility>

#include "platform/main_queue.h"

namespace hw {

// Runs the task on the main queue after a delay in milliseconds, truncated
// to whole milliseconds; NaN, zero or negative run on the next turn, and a
// delay too large for the clock never comes due rather than running at once.
inline void runOnMainQueueAfter(MainQueue& queue, Task task, double delayMs) {
    queue.postAfter(delayMs, std::move(task));
}

}  // namespace hw
