#include "helper/process_records.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "helper/helper_files.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "ProcessRecords";
}

std::optional<unsigned long long> ProcessRecords::startTime(pid_t pid) const {
    auto stat = readFile(procRoot_ + "/" + std::to_string(pid) + "/stat");
    if (!stat) return std::nullopt;
    // The command name in parentheses may hold blanks and ')'; fields count
    // from the last ')'.
    auto close = stat->rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(stat->substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i) {
        if (!(rest >> field)) return std::nullopt;
        if (i == 3 && field == "Z") return std::nullopt;  // a zombie no longer runs
    }
    try {
        return std::stoull(field);
    } catch (...) {
        return std::nullopt;
    }
}

bool ProcessRecords::peerIsProcess(int socket, pid_t pid, unsigned long long start) const {
    ucred peer{};
    socklen_t len = sizeof peer;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || len != sizeof peer) return false;
    return pid > 0 && peer.pid == pid && peer.uid == ::geteuid() && startTime(pid) == start;
}

bool ProcessRecords::record(pid_t pid) {
    auto start = startTime(pid);
    if (pid <= 0 || !start || !makePrivateDirectory(folder_)) return false;
    std::string error;
    // No fsync: a power cut ends the process too; an empty record is skipped.
    return writeFileAtomically(folder_ + "/" + std::to_string(pid), std::to_string(*start) + "\n", 0600, &error,
                               false);
}

void ProcessRecords::forget(pid_t pid) {
    if (pid > 0) ::unlink((folder_ + "/" + std::to_string(pid)).c_str());
}

int ProcessRecords::terminateAll(std::chrono::milliseconds grace, int* found) {
    std::vector<pid_t> running;
    if (found) *found = 0;
    // A record someone else could have written would name any process.
    struct stat st {};
    if (::lstat(folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0)
        return 0;
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) files.push_back(entry.path());
    for (const auto& file : files) {
        auto name = file.filename().string();
        if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        auto text = readFile(file.string());
        ::unlink(file.c_str());
        if (found) ++*found;
        pid_t pid = 0;
        unsigned long long recorded = 0;
        try {
            std::size_t used = 0;
            pid = static_cast<pid_t>(std::stol(name, &used));
            if (used != name.size() || !text) continue;
            recorded = std::stoull(*text);
        } catch (...) {
            continue;
        }
        if (pid <= 1 || startTime(pid) != recorded) continue;  // gone, or the pid was reused
        if (::kill(pid, SIGTERM) == 0) running.push_back(pid);
    }
    auto deadline = std::chrono::steady_clock::now() + grace;
    for (pid_t pid : running) {
        auto start = startTime(pid);
        while (start && std::chrono::steady_clock::now() < deadline) {
            ::waitpid(pid, nullptr, WNOHANG);  // reaps it when it is our own child
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            start = startTime(pid);
        }
        if (start) {
            log::warning(kLog, "process " + std::to_string(pid) + " ignored TERM; killing it");
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, WNOHANG);
        }
    }
    if (!running.empty()) log::info(kLog, "stopped " + std::to_string(running.size()) + " processes");
    return static_cast<int>(running.size());
}

}  // namespace hw::helper
