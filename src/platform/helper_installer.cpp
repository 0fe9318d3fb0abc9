#include "platform/helper_installer.h"

#include <chrono>

namespace hw {

HelperInstallResult PkexecHelperInstaller::interpret(const ProcessResult& result) {
    HelperInstallResult r;
    if (!result.started) {
        r.errorCode = -1;
    } else if (result.timedOut || result.signal != 0) {
        r.errorCode = -2;
    } else if (result.exitCode == 0) {
        r.succeeded = true;
    } else if (result.exitCode == 126) {
        r.refused = true;
    } else {
        r.errorCode = result.exitCode;
    }
    return r;
}

void PkexecHelperInstaller::install(std::function<void(HelperInstallResult)> completion) {
    ProcessRequest request;
    request.argv = {"pkexec", helper_, "--install", user_};
    // The user may take a while at the prompt.
    request.timeout = std::chrono::minutes(5);
    background_.async([this, request, completion = std::move(completion)] {
        auto result = interpret(runner_.run(request));
        main_.post([completion, result] { completion(result); });
    });
}

}  // namespace hw
