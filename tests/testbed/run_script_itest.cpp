// scripts/run as root: whom it runs the application as, and what that
// process is handed. A sample build stands in for the release one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/helper_connection.h"
#include "platform/posix_process_runner.h"
#include "support/child_process.h"
#include "support/fake_helper_tool.h"
#include "support/netns_rig.h"
#include "support/temp_dir.h"
#include "testbed/testbed_env.h"

namespace hw::test {
namespace {

namespace fs = std::filesystem;

class RunScript : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "only root runs the application as another user";
        // Reached by the user the application runs as.
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec |
                                        fs::perms::group_read | fs::perms::others_read);
        fs::create_directories(dir.file("build/src"));
        fs::create_directories(dir.file("build/helper"));
        fs::create_directories(dir.file("marks"));
        fs::permissions(dir.file("marks"), fs::perms::all);
    }
    void TearDown() override {
        // A helper a failed case left running with its lock would hold the
        // testbed's client namespace shut.
        auto testbed = TestbedEnv::load();
        if (!testbed || testbed->get("HAVENWAY_TESTBED_CLIENT_DIR").empty()) return;
        const std::string client = testbed->get("HAVENWAY_TESTBED_CLIENT_DIR");
        if (const pid_t pid = keptHelper(client); pid > 0) {
            ::kill(pid, SIGKILL);
            runQuiet({"env", "HAVENWAY_HELPER_SOCKET=" + client + "/helper.sock",
                      "HAVENWAY_HELPER_CONF=" + client + "/helper.conf",
                      "HAVENWAY_HELPER_STATE_DIR=" + client + "/state", "HAVENWAY_HELPER_RUN_DIR=" + client + "/run",
                      "HAVENWAY_RESOLV_CONF=" + client + "/resolv.conf",
                      "HAVENWAY_RESOLVED_DIR=" + client + "/no-resolved", "ip", "netns", "exec",
                      testbed->get("HAVENWAY_TESTBED_CLIENT_NETNS"), HW_BINARY_DIR "/helper/havenway-helper",
                      "--reset"},
                     dir.file("reset.log"));
            fs::remove(client + "/helper.pid");
        }
    }
    // The helper scripts/run left running, from its record; 0 when none runs.
    static pid_t keptHelper(const std::string& client) {
        std::istringstream record(readText(client + "/helper.pid"));
        long pid = 0;
        if (!(record >> pid) || pid <= 0) return 0;
        return ::kill(static_cast<pid_t>(pid), 0) == 0 ? static_cast<pid_t>(pid) : 0;
    }
    // The processes of a user in the namespace, as "pid command" lines.
    static std::string usersProcessesIn(const std::string& ns, uid_t uid) {
        ProcessRequest list;
        list.argv = {"ip", "netns", "pids", ns};
        list.timeout = std::chrono::seconds(10);
        std::istringstream in(PosixProcessRunner().run(list).out);
        std::string found;
        for (std::string pid; in >> pid;) {
            struct stat st{};
            if (::stat(("/proc/" + pid).c_str(), &st) != 0 || st.st_uid != uid) continue;
            const std::string stat = readText("/proc/" + pid + "/stat");
            if (stat.find(") Z ") != std::string::npos) continue;  // ended; only its parent's reaping is left
            std::string command = readText("/proc/" + pid + "/cmdline");
            std::replace(command.begin(), command.end(), '\0', ' ');
            found += pid + " " + command + "\n";
        }
        return found;
    }
    // Root's login shell on a terminal: scripts/run started in a session whose
    // controlling terminal is a new pty. Its output, and the bytes left unread
    // on the terminal's input (what a TIOCSTI would have pushed).
    struct OnTerminal {
        std::string output;
        int exitCode = -1;
        int pendingInput = -1;
    };
    OnTerminal runOnTerminal(std::map<std::string, std::string> env) {
        OnTerminal result;
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return result;
        env["HAVENWAY_RUN_BUILD_DIR"] = dir.file("build");
        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!env.count(entry.substr(0, entry.find('=')))) envStore.push_back(entry);
        }
        for (const auto& [k, v] : env) envStore.push_back(k + "=" + v);
        std::vector<char*> envp;
        for (auto& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string script = NetnsRig::sourceDir() + "/scripts/run";
        char* argv[] = {script.data(), nullptr};
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
            ::dup2(slave, 0);
            ::dup2(slave, 1);
            ::dup2(slave, 2);
            ::close(master);
            if (slave > 2) ::close(slave);
            ::execve(argv[0], argv, envp.data());
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        int status = 0;
        bool ended = false;
        char buffer[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0) result.output.append(buffer, static_cast<std::size_t>(n));
            } else if (ended) {
                break;
            }
            if (!ended && ::waitpid(pid, &status, WNOHANG) == pid) ended = true;
        }
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        result.exitCode = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::ioctl(slave, FIONREAD, &result.pendingInput);
        ::close(master);
        ::close(slave);
        return result;
    }
    void sampleApp(const std::string& text) { executable(dir.file("build/src/havenway"), text); }
    static void executable(const std::string& path, const std::string& text) {
        TempDir::write(path, text);
        ::chmod(path.c_str(), 0755);
    }
    // With a file given, the script inherits a descriptor of it, open across exec.
    ProcessResult run(std::map<std::string, std::string> env, const std::string& openFile = "") {
        ProcessRequest r;
        r.argv = {NetnsRig::sourceDir() + "/scripts/run"};
        // The paths travel as arguments, never inside the program text.
        if (!openFile.empty()) r.argv = {"/bin/sh", "-c", "exec 7<\"$0\" && exec \"$@\"", openFile, r.argv[0]};
        env["HAVENWAY_RUN_BUILD_DIR"] = dir.file("build");
        r.environment = std::move(env);
        r.timeout = std::chrono::seconds(120);
        return PosixProcessRunner().run(r);
    }

    TempDir dir;
};

// The application runs as the user who called sudo; plain root is told how
// to run it before anything is built or started.
TEST_F(RunScript, PlainRootWithoutSudoIsToldHowToRunIt) {
    const std::string log = dir.file("run.log");
    for (const char* sudoUser : {"", "root"}) {
        EXPECT_FALSE(runQuiet({"env", "-u", "SUDO_USER", std::string("SUDO_USER=") + sudoUser,
                               NetnsRig::sourceDir() + "/scripts/run"},
                              log))
            << sudoUser;
    }
    const std::string said = readText(log);
    EXPECT_NE(said.find("sudo scripts/run"), std::string::npos) << said;
    EXPECT_EQ(said.find("setup:"), std::string::npos) << "it went on: " << said;
}

// A name that is a number, an option, a NIS entry, root or nobody at all is
// refused before the helper starts or anything is written.
TEST_F(RunScript, HostileSudoUsersAreRefusedBeforeAnythingStarts) {
    sampleApp("#!/bin/sh\ntouch '" + dir.file("marks/app") + "'\n");
    executable(dir.file("build/helper/havenway-helper"), "#!/bin/sh\ntouch '" + dir.file("marks/helper") + "'\n");
    const auto testbed = TestbedEnv::load();
    const std::string conf = testbed ? testbed->get("HAVENWAY_TESTBED_CLIENT_DIR") + "/helper.conf" : "";
    const std::string confBefore = conf.empty() ? "" : readText(conf);
    for (const char* user : {"0", "+0", "65534", "--help", "-u", "+", "root", "", "no-such-user-hw", "nobody:x",
                             "nobody\nroot", "../nobody"}) {
        SCOPED_TRACE(user);
        const auto r = run({{"SUDO_USER", user}});
        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find("sudo scripts/run"), std::string::npos) << r.out << r.err;
        EXPECT_EQ((r.out + r.err).find("setup:"), std::string::npos) << "it went on: " << r.out << r.err;
        EXPECT_TRUE(fs::is_empty(dir.file("marks"))) << "something started";
        if (!conf.empty()) {
            EXPECT_EQ(readText(conf), confBefore) << "the helper's configuration was written";
        }
    }
}

// The user's process gets its session, the backend and the helper's socket:
// no key or password of the testbed, no descriptor of root's, and no
// variable split in two by a line break.
TEST_F(RunScript, TheUsersProcessGetsItsSessionAndNothingOfRoots) {
    HW_REQUIRE_TESTBED(testbed);
    if (testbed.get("HAVENWAY_TESTBED_CLIENT_NETNS").empty()) GTEST_SKIP() << "the testbed runs without VPN servers";
    if (auto why = NetnsRig::unavailable(); !why.empty()) GTEST_SKIP() << why;
    sampleApp(
        "#!/bin/sh\n"
        "echo \"uid $(id -u)\"\n"
        "tr '\\000' '\\n' </proc/$$/environ | sed 's/^/env /'\n"
        "ls -l /proc/$$/fd/ | sed -n 's/.* \\([0-9][0-9]*\\) -> \\(.*\\)$/fd \\1 \\2/p'\n");
    fs::create_symlink(HW_BINARY_DIR "/helper/havenway-helper", dir.file("build/helper/havenway-helper"));
    TempDir::write(dir.file("root-only"), "secret");
    ::chmod(dir.file("root-only").c_str(), 0600);

    const char* secretKeys[] = {"HAVENWAY_TESTBED_MASTER_KEY", "HAVENWAY_TESTBED_CLIENT_KEY",
                                "HAVENWAY_TESTBED_DEMO_PASSWORD", "HAVENWAY_TESTBED_PASSWORD"};
    std::map<std::string, std::string> env = {{"SUDO_USER", "nobody"},
                                              {"LANG", "C.UTF-8"},
                                              {"LC_TIME", "C"},
                                              {"QT_SCALE_FACTOR", "2"},
                                              {"BROWSER", "sample-browser"},
                                              {"XDG_CURRENT_DESKTOP", "Sample"},
                                              {"XDG_CONFIG_HOME", "/root/.config"},
                                              // Inside the home by its letters only.
                                              {"XDG_DATA_HOME", "/nonexistent/../root/.local/share"},
                                              {"XDG_CACHE_HOME", "/nonexistent/.."},
                                              // Inside, once resolved: handed on resolved.
                                              {"XDG_STATE_HOME", "/nonexistent/./state/../state"},
                                              {"QT_STYLE_OVERRIDE", "a\nHAVENWAY_INJECTED=1"},
                                              {"DBUS_SESSION_BUS_ADDRESS", "unix:abstract=/tmp/dbus-sample"}};
    for (const char* key : secretKeys) env[key] = testbed.get(key);
    const auto r = run(env, dir.file("root-only"));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    EXPECT_NE(r.out.find("uid 65534\n"), std::string::npos) << r.out;
    for (const char* handed : {"HOME=/nonexistent", "LANG=C.UTF-8", "LC_TIME=C", "QT_SCALE_FACTOR=2",
                               "BROWSER=sample-browser", "XDG_CURRENT_DESKTOP=Sample", "HAVENWAY_BACKEND_HOST=",
                               "XDG_STATE_HOME=/nonexistent/state\n",
                               "HAVENWAY_TEST_CA=", "HAVENWAY_HELPER_SOCKET="})
        EXPECT_NE(r.out.find(std::string("\nenv ") + handed), std::string::npos) << handed << "\n" << r.out;
    for (const char* kept : {"HAVENWAY_TESTBED_", "HAVENWAY_INJECTED", "QT_STYLE_OVERRIDE", "XDG_CONFIG_HOME",
                             "XDG_DATA_HOME", "XDG_CACHE_HOME",
                             "DBUS_SESSION_BUS_ADDRESS=unix:abstract", "SUDO_"})
        EXPECT_EQ(r.out.find(std::string("\nenv ") + kept), std::string::npos) << kept << "\n" << r.out;
    for (const char* key : secretKeys) {
        const std::string secret = testbed.get(key);
        if (!secret.empty()) {
            EXPECT_EQ(r.out.find(secret), std::string::npos) << key;
        }
    }
    EXPECT_NE(r.err.find("abstract socket"), std::string::npos) << r.err;

    // 0-2, and the sample's own script that its shell reads.
    std::istringstream lines(r.out);
    int seen = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("fd ", 0) != 0) continue;
        ++seen;
        std::istringstream words(line.substr(3));
        int fd = -1;
        std::string target;
        words >> fd >> target;
        if (fd > 2) {
            EXPECT_EQ(target, dir.file("build/src/havenway")) << line;
        }
    }
    EXPECT_GE(seen, 3) << r.out;
}

// Run from root's shell on a terminal, the user's process gets none: no
// controlling terminal, no terminal among its descriptors, nothing pushed
// into root's input; its output still shows, as text.
TEST_F(RunScript, TheUsersProcessGetsNoTerminalFromRootsShell) {
    HW_REQUIRE_TESTBED(testbed);
    if (testbed.get("HAVENWAY_TESTBED_CLIENT_NETNS").empty()) GTEST_SKIP() << "the testbed runs without VPN servers";
    if (auto why = NetnsRig::unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (::access("/usr/bin/perl", X_OK) != 0) GTEST_SKIP() << "no perl for the TIOCSTI probe";
    fs::create_symlink(HW_BINARY_DIR "/helper/havenway-helper", dir.file("build/helper/havenway-helper"));
    sampleApp(
        "#!/bin/sh\n"
        "echo \"tty_nr $(sed 's/.*) //' /proc/$$/stat | cut -d' ' -f5)\"\n"
        "if (: </dev/tty) 2>/dev/null; then echo 'opened /dev/tty'; fi\n"
        "perl -e 'for my $fd (0, 1, 2) { open(my $h, ($fd ? \">&=\" : \"<&=\"), $fd) or next; my $c = \"i\";"
        " print \"pushed through $fd\\n\" if ioctl($h, 0x5412, $c); }'\n"
        "printf 'escape \\033[31m end\\n'\n"
        // C1's CSI raw and in UTF-8, beside text in UTF-8 that must stay whole.
        "printf 'c1 \\233[31m \\302\\233[32m \\303\\251\\342\\202\\254 end\\n'\n");
    const auto r = runOnTerminal({{"SUDO_USER", "nobody"}});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("tty_nr 0\r\n"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("opened /dev/tty"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("pushed through"), std::string::npos) << r.output;
    EXPECT_EQ(r.pendingInput, 0) << "bytes were pushed into root's terminal";
    EXPECT_NE(r.output.find("escape [31m end"), std::string::npos) << "the output, as text: " << r.output;
    EXPECT_NE(r.output.find("c1 [31m [32m \xc3\xa9\xe2\x82\xac end"), std::string::npos) << r.output;
}

// The session bus and notification daemon the application starts when it
// finds none end with the run.
TEST_F(RunScript, NothingTheRunStartedIsLeftInTheNamespace) {
    HW_REQUIRE_TESTBED(testbed);
    const std::string ns = testbed.get("HAVENWAY_TESTBED_CLIENT_NETNS");
    if (ns.empty()) GTEST_SKIP() << "the testbed runs without VPN servers";
    if (auto why = NetnsRig::unavailable(); !why.empty()) GTEST_SKIP() << why;
    fs::create_symlink(HW_BINARY_DIR "/helper/havenway-helper", dir.file("build/helper/havenway-helper"));
    ASSERT_EQ(usersProcessesIn(ns, 65534), "");
    // A daemon of its own session, as dbus-launch makes one, a child left
    // to run on, and one that forks anew every 20 ms, its parent ending.
    sampleApp(
        "#!/bin/sh\n"
        "setsid sleep 600 </dev/null >/dev/null 2>&1 &\n"
        "sleep 600 </dev/null >/dev/null 2>&1 &\n"
        "perl -e 'for (;;) { select(undef, undef, undef, 0.02); fork and exit; }' </dev/null >/dev/null 2>&1 &\n"
        "echo started\n");
    const auto r = run({{"SUDO_USER", "nobody"}});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("started"), std::string::npos) << r.out;
    EXPECT_EQ(usersProcessesIn(ns, 65534), "");
    EXPECT_EQ(keptHelper(testbed.get("HAVENWAY_TESTBED_CLIENT_DIR")), 0) << "an ordinary end keeps no helper";
}

// scripts/run started in the background with the test's environment and
// these variables; its output in the log.
pid_t runInBackground(const std::map<std::string, std::string>& env, const std::string& log) {
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!env.count(entry.substr(0, entry.find('=')))) vars.push_back(entry);
    }
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    return spawnLogged({NetnsRig::sourceDir() + "/scripts/run"}, vars, log);
}
bool waitForFile(const std::string& path, std::chrono::seconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
// Whether the helper's records hold its lock engaged.
bool lockEngaged(const std::string& records) {
    std::string text = readText(records);
    text.erase(std::remove_if(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); }), text.end());
    return text.find("\"lock\":{\"active\":true") != std::string::npos;
}
// Whether it ends within the bound: a real wait on a real process.
bool endsWithin(pid_t pid, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) != 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
bool running(pid_t pid) {
    const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    return !stat.empty() && stat.find(") Z ") == std::string::npos;
}

// At an update's Restart the application quits and its install script
// starts the new one, in a session of its own: the run lasts while that one
// runs, and it reaches the same helper. Also when the script has ended and
// its child, still becoming the application, names no program yet (its
// command line reads empty while it executes; a blanked one stands in).
TEST_F(RunScript, TheRunLastsWhileTheRestartedApplicationRunsWithTheSameHelper) {
    HW_REQUIRE_TESTBED(testbed);
    if (testbed.get("HAVENWAY_TESTBED_CLIENT_NETNS").empty()) GTEST_SKIP() << "the testbed runs without VPN servers";
    if (auto why = NetnsRig::unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (::access("/usr/bin/perl", X_OK) != 0) GTEST_SKIP() << "no perl for the nameless child";
    fs::create_symlink(HW_BINARY_DIR "/helper/havenway-helper", dir.file("build/helper/havenway-helper"));
    const std::string client = testbed.get("HAVENWAY_TESTBED_CLIENT_DIR");
    fs::create_directories(dir.file("installed/bin"));
    fs::create_directories(dir.file("installed/share/havenway"));
    executable(dir.file("installed/bin/havenway"),
               "#!/bin/sh\n"
               "if [ -S \"$HAVENWAY_HELPER_SOCKET\" ]; then echo \"$HAVENWAY_HELPER_SOCKET\" >'" +
                   dir.file("marks/socket") + "'; fi\n"
               "touch '" + dir.file("marks/restarted") + "'\n"
               "read line <'" + dir.file("marks/go") + "'\n");
    // Ends once its child has blanked its name, which it keeps past the
    // run's next look (every half second) before it becomes the application.
    executable(dir.file("installed/share/havenway/install-update.sh"),
               "#!/bin/sh\n"
               "perl -e '$0 = \"\"; open(my $f, \">\", shift) or die; close $f; select(undef, undef, undef, 1.2); "
               "exec @ARGV' '" + dir.file("marks/nameless") + "' /bin/sh '" + dir.file("installed/bin/havenway") +
                   "' &\n"
               "read line <'" + dir.file("marks/nameless") + "'\n");
    const struct {
        const char* name;
        std::string restart;
    } cases[] = {
        {"straight", "/bin/sh '" + dir.file("installed/bin/havenway") + "'"},
        {"through a nameless child", "/bin/sh '" + dir.file("installed/share/havenway/install-update.sh") + "'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* mark : {"go", "nameless", "restarted", "socket"}) fs::remove(dir.file("marks/") + mark);
        ASSERT_EQ(::mkfifo(dir.file("marks/go").c_str(), 0666), 0);
        ASSERT_EQ(::mkfifo(dir.file("marks/nameless").c_str(), 0666), 0);
        ::chmod(dir.file("marks/nameless").c_str(), 0666);  // written by the application's user
        sampleApp("#!/bin/sh\nsetsid " + c.restart + " </dev/null >/dev/null 2>&1 &\n");
        const pid_t script = runInBackground(
            {{"SUDO_USER", "nobody"}, {"HAVENWAY_RUN_BUILD_DIR", dir.file("build")}}, dir.file("run.log"));
        ASSERT_GT(script, 0);
        if (!waitForFile(dir.file("marks/restarted"), std::chrono::seconds(60))) {
            // Ended as Ctrl+C ends it, so that nothing of this row outlives it.
            ::kill(script, SIGTERM);
            waitChild(script, std::chrono::seconds(60));
            FAIL() << "no restarted application\n" << readText(dir.file("run.log"));
        }
        const pid_t helper = keptHelper(client);
        EXPECT_GT(helper, 0);
        EXPECT_EQ(readText(dir.file("marks/socket")), client + "/helper.sock\n");
        // A run that took the first process's end for its own ends well within this.
        EXPECT_FALSE(endsWithin(script, std::chrono::seconds(2))) << "the run ended with the first process";
        EXPECT_TRUE(helper > 0 && running(helper)) << "the helper was stopped under the restarted application";
        {
            // Not blocking: with no application left to read it, this row
            // fails here instead of waiting on the pipe for good.
            const int go = ::open(dir.file("marks/go").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            EXPECT_GE(go, 0) << "nothing reads the restarted application's pipe";
            if (go >= 0) {
                EXPECT_EQ(::write(go, "end\n", 4), 4);
                ::close(go);
            }
        }
        EXPECT_EQ(waitChild(script, std::chrono::seconds(60)), 0) << readText(dir.file("run.log"));
        if (helper > 0) {
            EXPECT_FALSE(running(helper)) << "the helper outlived the run";
        }
    }
}

// The application killed while its helper holds the lock: the helper runs
// on with it, and the next run takes it over; that run's ordinary end stops
// it and lifts the lock.
TEST_F(RunScript, AnApplicationKilledUnderTheLockLeavesTheHelperForTheNextRun) {
    HW_REQUIRE_TESTBED(testbed);
    const std::string ns = testbed.get("HAVENWAY_TESTBED_CLIENT_NETNS");
    if (ns.empty()) GTEST_SKIP() << "the testbed runs without VPN servers";
    if (auto why = NetnsRig::unavailable(); !why.empty()) GTEST_SKIP() << why;
    fs::create_symlink(HW_BINARY_DIR "/helper/havenway-helper", dir.file("build/helper/havenway-helper"));
    const std::string client = testbed.get("HAVENWAY_TESTBED_CLIENT_DIR");
    const std::string records = client + "/run/state/helper-state.json";
    ASSERT_EQ(::mkfifo(dir.file("marks/go").c_str(), 0666), 0);
    sampleApp("#!/bin/sh\necho $$ >'" + dir.file("marks/pid.new") + "'\nmv '" + dir.file("marks/pid.new") + "' '" +
              dir.file("marks/pid") + "'\nread line <'" + dir.file("marks/go") + "'\n");
    const std::map<std::string, std::string> env = {{"SUDO_USER", "nobody"},
                                                    {"HAVENWAY_RUN_BUILD_DIR", dir.file("build")}};
    const pid_t script = runInBackground(env, dir.file("first.log"));
    ASSERT_GT(script, 0);
    ASSERT_TRUE(waitForFile(dir.file("marks/pid"), std::chrono::seconds(60))) << readText(dir.file("first.log"));
    {
        // As the application engages it, over the helper's socket.
        HelperTestQueue queue;
        HelperConnection connection(queue);
        ASSERT_TRUE(connection.connect(client + "/helper.sock", nullptr));
        std::optional<HelperReply> reply;
        connection.send(HelperMessage{{"type", std::string("helper_tool_rpc")}, {"rpc", std::string("enableNetworkLock")}},
                        [&](HelperReply r) { reply = std::move(r); });
        ASSERT_TRUE(queue.waitFor([&] { return reply.has_value(); }));
        ASSERT_TRUE(reply->ok()) << reply->error;
    }
    ASSERT_TRUE(lockEngaged(records)) << readText(records);
    const pid_t app = static_cast<pid_t>(std::stol(readText(dir.file("marks/pid"))));
    ASSERT_EQ(::kill(app, SIGKILL), 0);
    EXPECT_EQ(waitChild(script, std::chrono::seconds(60)), 128 + SIGKILL) << readText(dir.file("first.log"));
    const std::string first = readText(dir.file("first.log"));
    EXPECT_NE(first.find("run scripts/run again to take"), std::string::npos) << first;
    const pid_t helper = keptHelper(client);
    ASSERT_GT(helper, 0) << "the helper was stopped: " << first;
    EXPECT_TRUE(lockEngaged(records)) << "the lock was lifted";

    sampleApp("#!/bin/sh\necho \"helper at $HAVENWAY_HELPER_SOCKET\"\n");
    const auto second = run(env);
    EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
    EXPECT_NE(second.err.find("helper left running (pid " + std::to_string(helper) + ") serves this run"),
              std::string::npos)
        << second.err;
    EXPECT_NE(second.out.find("helper at " + client + "/helper.sock"), std::string::npos) << second.out;
    EXPECT_FALSE(running(helper)) << "the ordinary end left the helper";
    EXPECT_FALSE(lockEngaged(records)) << "the lock stayed: " << readText(records);
}

// A second run while the first goes on: its application hands over to the
// first one and ends, and the first run's helper stays with the first run,
// which stops it at its own end.
TEST_F(RunScript, ASecondRunLeavesTheFirstRunsHelperToIt) {
    HW_REQUIRE_TESTBED(testbed);
    if (testbed.get("HAVENWAY_TESTBED_CLIENT_NETNS").empty()) GTEST_SKIP() << "the testbed runs without VPN servers";
    if (auto why = NetnsRig::unavailable(); !why.empty()) GTEST_SKIP() << why;
    fs::create_symlink(HW_BINARY_DIR "/helper/havenway-helper", dir.file("build/helper/havenway-helper"));
    const std::string client = testbed.get("HAVENWAY_TESTBED_CLIENT_DIR");
    ASSERT_EQ(::mkfifo(dir.file("marks/go").c_str(), 0666), 0);
    // The first start waits; a later one only says it ran.
    sampleApp("#!/bin/sh\nif mkdir '" + dir.file("marks/first") + "' 2>/dev/null; then\n  echo $$ >'" +
              dir.file("marks/pid.new") + "'\n  mv '" + dir.file("marks/pid.new") + "' '" + dir.file("marks/pid") +
              "'\n  read line <'" + dir.file("marks/go") + "'\nelse\n  echo handed over\nfi\n");
    const std::map<std::string, std::string> env = {{"SUDO_USER", "nobody"},
                                                    {"HAVENWAY_RUN_BUILD_DIR", dir.file("build")}};
    const pid_t script = runInBackground(env, dir.file("first.log"));
    ASSERT_GT(script, 0);
    if (!waitForFile(dir.file("marks/pid"), std::chrono::seconds(60))) {
        ::kill(script, SIGTERM);
        waitChild(script, std::chrono::seconds(60));
        FAIL() << "the first run started no application\n" << readText(dir.file("first.log"));
    }
    const pid_t helper = keptHelper(client);
    ASSERT_GT(helper, 0) << readText(dir.file("first.log"));

    // Also when ip fails the second run's first look into the namespace: an
    // error is not "nothing there", which made the first run's application
    // that run's to wait on and to end.
    const std::string ip = ::access("/usr/sbin/ip", X_OK) == 0 ? "/usr/sbin/ip" : "/sbin/ip";
    fs::create_directories(dir.file("failing"));
    executable(dir.file("failing/ip"), "#!/bin/sh\nif [ \"$1 $2\" = \"netns pids\" ] && mkdir '" +
                                           dir.file("marks/ip-failed") + "' 2>/dev/null; then exit 1; fi\nexec " + ip +
                                           " \"$@\"\n");
    for (bool failingScan : {false, true}) {
        SCOPED_TRACE(failingScan ? "ip fails once" : "plain");
        auto secondEnv = env;
        if (failingScan) secondEnv["PATH"] = dir.file("failing") + ":" + std::string(std::getenv("PATH"));
        const auto second = run(secondEnv);
        EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
        EXPECT_NE(second.out.find("handed over"), std::string::npos) << second.out;
        EXPECT_NE(second.err.find("a run (pid " + std::to_string(script) + ") is going on"), std::string::npos)
            << second.err;
        EXPECT_TRUE(running(helper)) << "the second run stopped the first run's helper";
        EXPECT_EQ(keptHelper(client), helper);
        EXPECT_TRUE(running(script)) << "the second run ended the first";
    }

    {
        std::ofstream go(dir.file("marks/go"));
        go << "end\n";
    }
    EXPECT_EQ(waitChild(script, std::chrono::seconds(60)), 0) << readText(dir.file("first.log"));
    EXPECT_FALSE(running(helper)) << "the first run's end left its helper";
}

}  // namespace
}  // namespace hw::test
