#pragma once
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

#include "platform/helper_message.h"

namespace hw::helper {

enum class ListenWait { Connected, Ended, TimedOut, Failed };

// Connects to the Unix stream socket at `path` once the program that makes
// it listens there. Woken by the socket appearing in its folder or by the
// program (`pid`) ending, not by a timer; `ended` says whether it did.
// `changes` is the caller's inotify instance, made on first use and best
// kept for the caller's life: closing one costs the kernel a grace period,
// tens of milliseconds on a busy machine.
ListenWait connectWhenListening(const std::string& path, pid_t pid, std::chrono::steady_clock::time_point deadline,
                                const std::function<bool()>& ended, UniqueFd& changes, UniqueFd* connected);

}  // namespace hw::helper
