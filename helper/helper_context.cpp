#include "helper/helper_context.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "helper/helper_files.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr auto kToolTimeout = std::chrono::seconds(10);
}

HelperContext::HelperContext(ProcessRunner& r, NetworkStack& n, HelperPaths p)
    : runner(r), network(n), paths(std::move(p)), changes_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    loadState();
}

void HelperContext::loadState() {
    auto dns = readFile(paths.stateFile());
    auto records = readFile(paths.recordsFile());
    if (seen_ && seen_->dns == dns && seen_->records == records) {
        state = seen_->state;
    } else {
        state = HelperState::parse(dns, records);
        seen_ = Seen{dns, records, state};
    }
    // What a save must rewrite: a file that is not there is as good as an empty part.
    dnsOnDisk_ = dns.value_or(HelperState{}.dnsText());
    recordsOnDisk_ = records.value_or(HelperState{}.recordsText());
    if (!bootId_) {
        auto id = readFile(paths.procRoot + "/sys/kernel/random/boot_id").value_or("");
        while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
        bootId_ = id;
    }
    state.forgetKernelStateUnlessBoot(*bootId_);
}

HelperContext::StateHold HelperContext::holdState() {
    // The folder itself is locked: no lock file to be left behind.
    int fd = ::open(paths.stateDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && makeDirectories(paths.stateDir, 0700))
        fd = ::open(paths.stateDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) log::warning("HelperState", "cannot lock the state; going on without");
    else
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    // The tunnel services' in-memory DNS servers are not in the file and stay.
    if (othersChangedTheFiles()) loadState();
    return StateHold(this, fd);
}

bool HelperContext::othersChangedTheFiles() {
    if (!changes_) return true;
    if (!watching_) {
        // What happened before the watch began is unknown: read them this time.
        constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                           IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
        watching_ = ::inotify_add_watch(changes_.get(), paths.stateDir.c_str(), kChanges) >= 0 &&
                    ::inotify_add_watch(changes_.get(), paths.recordsDir().c_str(), kChanges) >= 0;
        forgetOwnChanges();
        return true;
    }
    return forgetOwnChanges();
}

bool HelperContext::forgetOwnChanges() {
    if (!changes_) return false;
    bool any = false;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(changes_.get(), buffer, sizeof buffer)) > 0;) {
        any = true;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // A watch that ended (its folder went) or news that overflowed.
            if (event->mask & (IN_IGNORED | IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF)) watching_ = false;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return any;
}

void HelperContext::removeStateFiles() {
    ::unlink(paths.stateFile().c_str());
    ::unlink(paths.recordsFile().c_str());
    dnsOnDisk_ = HelperState{}.dnsText();
    recordsOnDisk_ = HelperState{}.recordsText();
    seen_.reset();
}

HelperContext::StateHold::~StateHold() {
    if (context_) context_->forgetOwnChanges();
    if (fd_ >= 0) ::close(fd_);
}

bool HelperContext::saveState() {
    std::string error;
    // The records first: a DNS record never names a change the records miss.
    // They live on tmpfs and go without fsync; only the DNS record, which
    // outlives a reboot, is written to the disk, and only when it changed.
    std::string records = state.recordsText();
    if (records != recordsOnDisk_) {
        if (!makePrivateDirectory(paths.recordsDir()) ||
            !writeFileAtomically(paths.recordsFile(), records, 0600, &error, /*durable=*/false)) {
            log::error("HelperState", "cannot save the records: " + error);
            return false;
        }
        recordsOnDisk_ = std::move(records);
    }
    std::string dns = state.dnsText();
    if (dns != dnsOnDisk_) {
        if (!makePrivateDirectory(paths.stateDir) || !writeFileAtomically(paths.stateFile(), dns, 0600, &error)) {
            log::error("HelperState", "cannot save the DNS record: " + error);
            return false;
        }
        dnsOnDisk_ = std::move(dns);
    }
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
