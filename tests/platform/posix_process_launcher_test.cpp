// Programs started to outlive us: what they get from us, and what they do not.
#include "platform/posix_process_launcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "support/poll_until.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

TEST(PosixProcessLauncher, TheChildGetsOnlyTheGivenEnvironmentItsOwnSessionAndNoneOfOurFiles) {
    test::TempDir dir;
    const int inherited = ::open(dir.file("open-in-parent").c_str(), O_CREAT | O_WRONLY, 0600);  // no O_CLOEXEC
    ASSERT_GE(inherited, 0);
    PosixProcessLauncher launcher;
    std::string error;
    // The report's path travels as an argument, never inside the program text.
    const bool started = launcher.launch(
        "/bin/sh",
        {"-c",
         "{ env; echo sid=$(cut -d' ' -f6 /proc/$$/stat); echo self=$$; ls /proc/$$/fd; } > \"$1.tmp\"; "
         "mv \"$1.tmp\" \"$1\"",
         "sh", dir.file("report")},
        {{"PATH", "/usr/bin:/bin"}, {"HOME", "/home/ann with space"}}, &error);
    ::close(inherited);
    ASSERT_TRUE(started) << error;
    // The child writes its report last, by rename: present means complete.
    test::pollUntil([&] { return std::filesystem::exists(dir.file("report")); }, std::chrono::seconds(10));
    const std::string report = test::TempDir::read(dir.file("report"));
    EXPECT_NE(report.find("HOME=/home/ann with space\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("USER="), std::string::npos) << "our environment leaked";
    std::string sid, self;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("sid=", 0) == 0) sid = line.substr(4);
        if (line.rfind("self=", 0) == 0) self = line.substr(5);
    }
    EXPECT_EQ(sid, self) << "not the leader of a session of its own";
    EXPECT_EQ(report.find("\n" + std::to_string(inherited) + "\n"), std::string::npos) << "our descriptor leaked";
}

TEST(PosixProcessLauncher, AProgramThatCannotStartIsReported) {
    PosixProcessLauncher launcher;
    for (const std::string path : {"/nonexistent/install-update.sh", "relative/script.sh", ""}) {
        std::string error;
        EXPECT_FALSE(launcher.launch(path, {}, {}, &error)) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
}

}  // namespace
}  // namespace hw
