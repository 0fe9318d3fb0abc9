#pragma once
#include "platform/main_queue.h"

namespace hw::test {

// Background work runs at once on the caller's thread: for tests on a real
// main loop that need no second thread.
struct InlineBackgroundQueue final : BackgroundQueue {
    void async(Task task) override { task(); }
};

}  // namespace hw::test
