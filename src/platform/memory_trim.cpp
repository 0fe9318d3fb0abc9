#include "platform/memory_trim.h"

#include <malloc.h>

namespace hw {

void limitMallocArenas(int arenas) { ::mallopt(M_ARENA_MAX, arenas); }

struct MemoryTrim::State {
    Trim trim;
    unsigned latest = 0;  // the burst whose trim is due; earlier ones do nothing
};

MemoryTrim::MemoryTrim(MainQueue& queue, double quietMs, Trim trim)
    : queue_(queue), quietMs_(quietMs), state_(std::make_shared<State>()) {
    state_->trim = trim ? std::move(trim) : [] { ::malloc_trim(0); };
}

MemoryTrim::~MemoryTrim() = default;

void MemoryTrim::afterBurst() {
    const unsigned burst = ++state_->latest;
    queue_.postAfter(quietMs_, [weak = std::weak_ptr<State>(state_), burst] {
        auto state = weak.lock();
        if (state && state->latest == burst) state->trim();
    });
}

}  // namespace hw
