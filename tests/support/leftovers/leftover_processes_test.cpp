// The check scripts/test runs each test phase under: what a command leaves
// running fails it, named, and is ended.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/poll_until.h"
#include "support/temp_dir.h"

namespace hw::test {
namespace {

struct Outcome {
    int code = -1;
    std::string said;
};

Outcome check(const std::string& script, const TempDir& dir) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    const std::string log = dir.file("said.log");
    const pid_t pid =
        spawnLogged({HW_LEFTOVER_TOOL, "--grace-ms", "1000", "--", "sh", "-c", script}, env, log);
    Outcome out;
    out.code = waitChild(pid, std::chrono::seconds(30));
    out.said = TempDir::read(log);
    return out;
}

// Whether a live process's command line holds the text.
bool running(const std::string& text) {
    DIR* proc = ::opendir("/proc");
    bool found = false;
    while (const dirent* entry = proc ? ::readdir(proc) : nullptr) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        std::ifstream in(std::string("/proc/") + entry->d_name + "/cmdline", std::ios::binary);
        // One that ends mid-read reads as empty instead of throwing.
        std::ostringstream read;
        read << in.rdbuf();
        const std::string line = read.str();
        if (line.find(text) != std::string::npos) found = true;
    }
    if (proc) ::closedir(proc);
    return found;
}

TEST(LeftoverProcesses, ACommandIsJudgedByWhatItLeavesRunning) {
    // A duration no other process on the machine carries: the daemon's mark.
    const std::string mark = "3600." + std::to_string(std::random_device{}() % 1000000 + 1000000);
    struct Row {
        const char* name;
        std::string script;
        int code;
        bool named;
    } rows[] = {
        {"clean", "true", 0, false},
        {"failing, clean", "exit 5", 5, false},
        {"a detached daemon", "setsid sleep " + mark + " >/dev/null 2>&1 & exit 0", 3, true},
        {"failing with a daemon", "sleep " + mark + " >/dev/null 2>&1 & exit 7", 7, true},
        {"a daemon that ends within the grace", "(sleep 0.3) >/dev/null 2>&1 & exit 0", 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const Outcome out = check(row.script, dir);
        EXPECT_EQ(out.code, row.code) << out.said;
        EXPECT_EQ(out.said.find("sleep " + mark) != std::string::npos, row.named) << out.said;
        EXPECT_TRUE(pollUntil([&] { return !running(std::string("sleep\0", 6) + mark); }, std::chrono::seconds(5)))
            << "left running after the check";
    }
}

}  // namespace
}  // namespace hw::test
