#pragma once
// A bounded wait on something another process does (a file appears, a service
// answers); virtual time cannot stand in for a real child.
#include <chrono>
#include <thread>

namespace hw::test {

template <class Ready>
bool pollUntil(Ready ready, std::chrono::milliseconds bound, std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
    for (const auto end = std::chrono::steady_clock::now() + bound; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(step)) {
        if (ready()) return true;
    }
    return ready();
}

}  // namespace hw::test
