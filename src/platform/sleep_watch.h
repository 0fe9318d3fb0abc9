#pragma once
#include <functional>

namespace hw {

// The session's power events: the machine is about to sleep, it woke, or it
// is about to shut down. Handlers run on the main queue.
class SleepWatch {
public:
    struct Handlers {
        std::function<void()> willSleep;
        std::function<void()> didWake;
        std::function<void()> willShutDown;
    };
    virtual ~SleepWatch() = default;
    // False (and nothing is watched) when the events cannot be had.
    virtual bool subscribe(Handlers handlers) = 0;
};

}  // namespace hw
