#pragma once
#include <map>
#include <string>

#include "platform/helper_installer.h"
#include "platform/helper_job_table.h"

namespace hw::test {

// The system's jobs by label, as a plain table.
class FakeHelperJobTable final : public HelperJobTable {
public:
    std::optional<std::string> programPath(const std::string& label) override {
        auto it = jobs.find(label);
        if (it == jobs.end()) return std::nullopt;
        return it->second;
    }
    std::map<std::string, std::string> jobs;
};

// Answers every install with `next`, on the main queue.
class FakeHelperInstaller final : public HelperInstaller {
public:
    explicit FakeHelperInstaller(MainQueue& queue) : queue_(queue) {}
    void install(std::function<void(HelperInstallResult)> completion) override {
        ++calls;
        queue_.post([completion, r = next] { completion(r); });
    }
    HelperInstallResult next{true, false, 0};
    int calls = 0;

private:
    MainQueue& queue_;
};

}  // namespace hw::test
