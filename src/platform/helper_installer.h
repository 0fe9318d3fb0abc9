#pragma once
#include <functional>
#include <string>

#include "platform/main_queue.h"
#include "platform/process_runner.h"

namespace hw {

struct HelperInstallResult {
    bool succeeded = false;
    bool refused = false;   // the user declined the administrator prompt
    int errorCode = 0;
};

// Installs the privileged helper with the administrator's consent.
class HelperInstaller {
public:
    virtual ~HelperInstaller() = default;
    // The completion runs on the main queue.
    virtual void install(std::function<void(HelperInstallResult)> completion) = 0;
};

// Runs "pkexec <helper> --install <user>" off the main thread; pkexec's 126
// means the user dismissed the prompt.
class PkexecHelperInstaller final : public HelperInstaller {
public:
    PkexecHelperInstaller(ProcessRunner& runner, BackgroundQueue& background, MainQueue& main,
                          std::string bundledHelper, std::string user)
        : runner_(runner), background_(background), main_(main), helper_(std::move(bundledHelper)),
          user_(std::move(user)) {}
    void install(std::function<void(HelperInstallResult)> completion) override;

    static HelperInstallResult interpret(const ProcessResult& result);

private:
    ProcessRunner& runner_;
    BackgroundQueue& background_;
    MainQueue& main_;
    std::string helper_;
    std::string user_;
};

}  // namespace hw
