// Runs a command as the reaper of everything it starts and, once the command
// has ended, names every process of its still running: a daemon a test
// started and never stopped (one that detached itself included, as it is
// handed to us rather than to init), which is then ended.
//
//   hw_leftover_processes [--grace-ms N] -- command [argument...]
//
// Exit code: the command's own when it failed; 3 when it passed but left a
// process behind; else 0.
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

volatile sig_atomic_t commandPid = -1;

void forward(int signal) {
    if (commandPid > 0) ::kill(commandPid, signal);
}

struct Process {
    pid_t parent = 0;
    char state = '?';
};

std::map<pid_t, Process> processTable() {
    std::map<pid_t, Process> table;
    DIR* proc = ::opendir("/proc");
    if (!proc) return table;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        std::ifstream in("/proc/" + std::string(entry->d_name) + "/stat");
        std::string stat;
        std::getline(in, stat);
        // The name may hold spaces and parentheses: the fields follow its last ')'.
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 1));
        Process p;
        fields >> p.state >> p.parent;
        if (fields) table[pid_t(pid)] = p;
    }
    ::closedir(proc);
    return table;
}

// Every live process below this one, parents before their children.
std::vector<pid_t> descendants() {
    const auto table = processTable();
    std::vector<pid_t> found;
    std::set<pid_t> frontier{::getpid()};
    while (!frontier.empty()) {
        std::set<pid_t> next;
        for (const auto& [pid, p] : table) {
            if (frontier.count(p.parent) && p.state != 'Z' && p.state != 'X') {
                found.push_back(pid);
                next.insert(pid);
            }
        }
        frontier = std::move(next);
    }
    return found;
}

void reapExited() {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

std::string describe(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    // Streamed rather than iterated: a process that ends mid-read makes the
    // read fail, which an iterator would throw and this leaves empty.
    std::ostringstream text;
    text << in.rdbuf();
    std::string line = text.str();
    for (char& c : line)
        if (c == '\0') c = ' ';
    while (!line.empty() && line.back() == ' ') line.pop_back();
    char cwd[4096] = {};
    const ssize_t n = ::readlink(("/proc/" + std::to_string(pid) + "/cwd").c_str(), cwd, sizeof cwd - 1);
    return (line.empty() ? std::string("?") : line) + (n > 0 ? std::string("  (in ") + cwd + ")" : std::string());
}

}  // namespace

int main(int argc, char** argv) {
    long graceMs = 10000;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--") {
            ++first;
            break;
        }
        if (arg == "--grace-ms" && first + 1 < argc) {
            graceMs = std::strtol(argv[++first], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: %s [--grace-ms N] -- command [argument...]\n", argv[0]);
            return 2;
        }
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--grace-ms N] -- command [argument...]\n", argv[0]);
        return 2;
    }
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        std::fprintf(stderr, "leftover check: cannot become a subreaper: %s\n", std::strerror(errno));
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = forward;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);

    pid_t pid = -1;
    if (const int rc = ::posix_spawnp(&pid, argv[first], nullptr, nullptr, argv + first, environ); rc != 0) {
        std::fprintf(stderr, "leftover check: cannot run %s: %s\n", argv[first], std::strerror(rc));
        return 127;
    }
    commandPid = pid;
    int status = 0;
    for (;;) {
        int s = 0;
        const pid_t ended = ::waitpid(-1, &s, 0);
        if (ended == pid) {
            status = s;
            break;
        }
        if (ended < 0 && errno != EINTR) break;
    }
    commandPid = -1;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    // What was asked to stop may take a moment to go.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    std::vector<pid_t> left;
    for (;;) {
        reapExited();
        left = descendants();
        if (left.empty() || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (left.empty()) return code;

    std::fprintf(stderr, "leftover check: %zu process(es) the tests started still run:\n", left.size());
    for (pid_t p : left) std::fprintf(stderr, "  %d %s\n", int(p), describe(p).c_str());
    for (pid_t p : left) ::kill(p, SIGTERM);
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!(left = descendants()).empty() && std::chrono::steady_clock::now() < bound) {
        reapExited();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (pid_t p : left) ::kill(p, SIGKILL);
    reapExited();
    return code != 0 ? code : 3;
}
