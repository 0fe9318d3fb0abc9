// scripts/run as root: whom it runs the application as, and what that
// process is handed. A sample build stands in for the release one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "platform/posix_process_runner.h"
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
                                              {"QT_STYLE_OVERRIDE", "a\nHAVENWAY_INJECTED=1"},
                                              {"DBUS_SESSION_BUS_ADDRESS", "unix:abstract=/tmp/dbus-sample"}};
    for (const char* key : secretKeys) env[key] = testbed.get(key);
    const auto r = run(env, dir.file("root-only"));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    EXPECT_NE(r.out.find("uid 65534\n"), std::string::npos) << r.out;
    for (const char* handed : {"HOME=/nonexistent", "LANG=C.UTF-8", "LC_TIME=C", "QT_SCALE_FACTOR=2",
                               "BROWSER=sample-browser", "XDG_CURRENT_DESKTOP=Sample", "HAVENWAY_BACKEND_HOST=",
                               "HAVENWAY_TEST_CA=", "HAVENWAY_HELPER_SOCKET="})
        EXPECT_NE(r.out.find(std::string("\nenv ") + handed), std::string::npos) << handed << "\n" << r.out;
    for (const char* kept : {"HAVENWAY_TESTBED_", "HAVENWAY_INJECTED", "QT_STYLE_OVERRIDE", "XDG_CONFIG_HOME",
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

}  // namespace
}  // namespace hw::test
