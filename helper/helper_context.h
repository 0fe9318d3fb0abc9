#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "helper/helper_paths.h"
#include "helper/helper_state.h"
#include "helper/network_stack.h"
#include "platform/helper_message.h"
#include "platform/process_runner.h"

namespace hw::helper {

// What every command works with. Commands run one at a time on the helper's
// serving thread, so nothing here needs a lock.
class HelperContext {
public:
    HelperContext(ProcessRunner& runner, NetworkStack& network, HelperPaths paths);

    ProcessRunner& runner;
    NetworkStack& network;
    HelperPaths paths;
    HelperState state;

    // Writes the state file; a failure is logged and reported.
    bool saveState();
    // Once everything is undone: no record is needed any more.
    void removeStateFiles();

    // Held while a command or --reset changes the machine: another run of
    // the helper (--reset beside the daemon) waits, and the state files,
    // read again on taking it when another run changed them, are the only
    // record of what was changed.
    class StateHold {
    public:
        StateHold(HelperContext* context, int fd) : context_(context), fd_(fd) {}
        StateHold(StateHold&& other) noexcept
            : context_(std::exchange(other.context_, nullptr)), fd_(std::exchange(other.fd_, -1)) {}
        StateHold& operator=(StateHold&&) = delete;
        ~StateHold();

    private:
        HelperContext* context_;
        int fd_;
    };
    StateHold holdState();
    // Runs a system tool with a bounded wait; failures are logged with the
    // tool's own complaint.
    ProcessResult run(std::vector<std::string> argv, std::optional<std::string> input = std::nullopt);

private:
    void loadState();
    // Every writer of the state files holds the state lock, so a change
    // seen while taking it was another process's (a --reset), and this
    // process's own are let go of before it lets go of the lock. Without a
    // watch on both folders the files are read every time.
    bool othersChangedTheFiles();
    bool forgetOwnChanges();  // whether there were any
    UniqueFd changes_;  // inotify
    bool watching_ = false;
    // The files' texts when last read and what they parsed to: most
    // commands find them unchanged, and parsing cost more than they do.
    struct Seen {
        std::optional<std::string> dns, records;
        HelperState state;
    };
    std::optional<Seen> seen_;
    std::optional<std::string> bootId_;  // fixed while this process runs
    // What each file holds now, so that a save writes only what changed.
    std::string dnsOnDisk_, recordsOnDisk_;
};

}  // namespace hw::helper
