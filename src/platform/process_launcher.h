#pragma once
#include <string>
#include <utility>
#include <vector>

namespace hw {

// Starts a program that outlives us: its own session, nothing inherited but
// the environment given, never waited for.
class ProcessLauncher {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;
    virtual ~ProcessLauncher() = default;
    // Whether the program started; the reason in error when it did not.
    virtual bool launch(const std::string& executable, const std::vector<std::string>& arguments,
                        const Environment& environment, std::string* error = nullptr) = 0;
};

}  // namespace hw
