#pragma once
#include <functional>
#include <memory>

#include "platform/main_queue.h"

namespace hw {

// Bounds the malloc arenas of the process: each thread that allocates would
// otherwise get one of its own, whose free pages stay resident. Call first
// in main, before any thread starts.
void limitMallocArenas(int arenas);

// Gives the heap's free pages back to the system once a burst of work (the
// launch, a window shown) has passed: glibc keeps them otherwise. Each burst
// re-arms one trim, `quietMs` after the last.
class MemoryTrim {
public:
    using Trim = std::function<void()>;
    explicit MemoryTrim(MainQueue& queue, double quietMs = 2000, Trim trim = {});
    ~MemoryTrim();
    MemoryTrim(const MemoryTrim&) = delete;
    MemoryTrim& operator=(const MemoryTrim&) = delete;

    // On the main thread.
    void afterBurst();

private:
    struct State;
    MainQueue& queue_;
    double quietMs_;
    std::shared_ptr<State> state_;
};

}  // namespace hw
