#pragma once
// A ProcessLauncher that records what it was asked to start.
#include <string>
#include <vector>

#include "platform/process_launcher.h"

namespace hw::test {

class RecordingProcessLauncher final : public ProcessLauncher {
public:
    struct Launch {
        std::string executable;
        std::vector<std::string> arguments;
        Environment environment;
    };
    bool launch(const std::string& executable, const std::vector<std::string>& arguments,
                const Environment& environment, std::string* error = nullptr) override {
        launches.push_back({executable, arguments, environment});
        if (!starts && error) *error = "refused by the test";
        return starts;
    }
    std::vector<Launch> launches;
    bool starts = true;
};

}  // namespace hw::test
