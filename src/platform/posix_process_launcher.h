#pragma once
#include "platform/process_launcher.h"

namespace hw {

// posix_spawn in a new session (no shell, no PATH search): standard input
// from /dev/null, output and error shared with us, every other descriptor
// closed. A thread of ours reaps the child if we outlive it.
class PosixProcessLauncher final : public ProcessLauncher {
public:
    bool launch(const std::string& executable, const std::vector<std::string>& arguments,
                const Environment& environment, std::string* error = nullptr) override;
};

}  // namespace hw
