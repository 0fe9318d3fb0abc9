#include "helper/helper_context.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "helper/helper_files.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr auto kToolTimeout = std::chrono::seconds(10);
}

HelperContext::HelperContext(ProcessRunner& r, NetworkStack& n, HelperPaths p) : runner(r), network(n), paths(std::move(p)) {
    loadState();
}

void HelperContext::loadState() {
    auto text = readFile(paths.stateFile());
    if (!text) {
        state = HelperState{};
        seen_.reset();
    } else if (seen_ && seen_->text == *text) {
        state = seen_->state;
    } else {
        state = HelperState::parse(*text);
        seen_ = Seen{std::move(*text), state};
    }
    dnsRecordOnDisk_ = state.dns.saved;
    if (!bootId_) {
        auto id = readFile(paths.procRoot + "/sys/kernel/random/boot_id").value_or("");
        while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
        bootId_ = id;
    }
    state.forgetKernelStateUnlessBoot(*bootId_);
}

HelperContext::StateHold HelperContext::holdState() {
    // The folder itself is locked: no lock file to be left behind.
    int fd = -1;
    if (makeDirectories(paths.stateDir, 0700)) fd = ::open(paths.stateDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) log::warning("HelperState", "cannot lock the state; going on without");
    else
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    // The tunnel services' in-memory DNS servers are not in the file and stay.
    loadState();
    return StateHold(fd);
}

HelperContext::StateHold::~StateHold() {
    if (fd_ >= 0) ::close(fd_);
}

bool HelperContext::saveState() {
    std::string error;
    if (!makePrivateDirectory(paths.stateDir) ||
        !state.save(paths.stateFile(), &error, state.needsDurableWrite(dnsRecordOnDisk_))) {
        log::error("HelperState", "cannot save the state: " + error);
        return false;
    }
    dnsRecordOnDisk_ = state.dns.saved;
    return true;
}

ProcessResult HelperContext::run(std::vector<std::string> argv, std::optional<std::string> input) {
    ProcessRequest request;
    request.argv = std::move(argv);
    request.stdinData = std::move(input);
    request.timeout = kToolTimeout;
    auto result = runner.run(request);
    if (!result.ok()) {
        std::string line;
        for (const auto& a : request.argv) line += (line.empty() ? "" : " ") + a;
        std::string why = !result.started ? result.error
                          : result.timedOut ? std::string("timed out")
                                            : "exit " + std::to_string(result.exitCode) + ": " + result.err.substr(0, 300);
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
        log::warning("HelperTools", line.substr(0, 200) + " failed: " + why);
    }
    return result;
}

}  // namespace hw::helper
