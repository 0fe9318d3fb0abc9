#include "helper/log_limiter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "helper/log_file_cap.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include "support/capture_log.h"

namespace hw::helper {
namespace {

using namespace std::chrono_literals;

// A flood of one cause costs five lines a window and then one with the
// count; other causes pass meanwhile, and nothing left out goes untold.
TEST(LogLimiter, AFloodOfOneCauseIsCutToAFewLinesAndACount) {
    auto out = std::make_shared<hw::test::CaptureLog>();
    LogLimiter::TimePoint t{};
    std::vector<std::string> seen;
    auto lines = [&] {
        seen.clear();
        for (const auto& l : out->lines()) seen.push_back(l.category + ": " + l.message);
        return seen;
    };
    {
        LogLimiter limiter(out, [&] { return t; });
        // Numbers and quoted values differ; the cause is the same.
        for (int i = 0; i < 12; ++i)
            limiter.write(LogLevel::Warning, "HelperServer", "refused a peer with uid " + std::to_string(1000 + i));
        limiter.write(LogLevel::Warning, "HelperServer", "malformed message: \"x\"");
        for (int i = 0; i < 6; ++i)
            limiter.write(LogLevel::Warning, "Cmd", "'x': invalid key \"" + std::string(i, 'a') + "\"");
        t += 999ms;
        limiter.flush();
        EXPECT_EQ(lines().size(), 5u + 1u + 5u);
        EXPECT_EQ(seen[4], "HelperServer: refused a peer with uid 1004");
        t += 1ms;
        limiter.flush();
        ASSERT_EQ(lines().size(), 13u);
        EXPECT_EQ(seen[11], "Cmd: left out 1 more line like: 'x': invalid key \"aaaaa\"");
        EXPECT_EQ(seen[12], "HelperServer: left out 7 more lines like: refused a peer with uid 1005");
        // A new window lets the cause through again; what is left out when
        // the limiter goes is told then.
        for (int i = 0; i < 8; ++i) limiter.write(LogLevel::Warning, "HelperServer", "refused a peer with uid 7");
        EXPECT_EQ(lines().size(), 18u);
    }
    ASSERT_EQ(lines().size(), 19u);
    EXPECT_EQ(seen[18], "HelperServer: left out 3 more lines like: refused a peer with uid 7");

    // A burst of different lines, as a tunnel's start prints them, is no
    // flood: every one of them passes.
    out = std::make_shared<hw::test::CaptureLog>();
    {
        LogLimiter limiter(out, [&] { return t; });
        for (int i = 0; i < 200; ++i) limiter.write(LogLevel::Info, "openvpn", "step " + std::string(i % 26 + 1, char('a' + i / 26)));
        limiter.write(LogLevel::Info, "OpenVPNService", "openvpn 4242 handed over to a restarted app");
    }
    ASSERT_EQ(out->lines().size(), 201u);
    EXPECT_EQ(out->lines().back().message, "openvpn 4242 handed over to a restarted app");

    // However many causes a flood makes up, the lines a window lets through
    // stay bounded.
    out = std::make_shared<hw::test::CaptureLog>();
    {
        LogLimiter limiter(out, [&] { return t; });
        for (int i = 0; i < 5000; ++i)
            limiter.write(LogLevel::Info, "C" + std::to_string(i % 26) + std::string(i % 200, 'x'), "y");
    }
    EXPECT_LE(out->lines().size(), 2 * (LogLimiter::kCauses + 1) * LogLimiter::kLinesPerWindow);
}

// Refused directives name themselves in any quotes: each quote is one
// cause, and many causes together still write a bounded rate.
TEST(LogLimiter, QuotedNamesInAnyQuotesAreOneCauseAndAllCausesShareABound) {
    auto out = std::make_shared<hw::test::CaptureLog>();
    LogLimiter::TimePoint t{};
    std::size_t bytes = 0;
    {
        LogLimiter limiter(out, [&] { return t; });
        for (int i = 0; i < 3000; ++i) {
            const std::string name(static_cast<std::size_t>(i % 300 + 1), char('a' + i % 26));
            limiter.write(LogLevel::Warning, "OpenVPNService", "refused configuration: line 3: directive '" + name + "' is not allowed");
            limiter.write(LogLevel::Warning, "OpenVPNService", "refused configuration: line 3: block <" + name + "> is not allowed");
            limiter.write(LogLevel::Warning, "OpenVPNService", "refused: `" + name + "` in \"" + name + "\"");
        }
        EXPECT_EQ(out->lines().size(), 3 * LogLimiter::kLinesPerWindow);
        // Each line its own cause: the total bound holds them.
        for (int i = 0; i < 3000; ++i)
            limiter.write(LogLevel::Warning, "C" + std::to_string(i), std::string(300, char('a' + i % 26)));
        for (const auto& l : out->lines()) bytes += l.category.size() + l.message.size();
        EXPECT_LE(out->lines().size(), LogLimiter::kTotalLines);
        EXPECT_LE(bytes, LogLimiter::kTotalBytes);
        t += 1s;
        limiter.flush();
        EXPECT_EQ(out->lines().back().category, "LogLimiter");
        EXPECT_NE(out->lines().back().message.find("more lines over 256 lines or 32768 bytes a second"), std::string::npos);
        // An apostrophe inside a word quotes nothing: six lines, six causes.
        for (const char* what : {"back", "gone", "kept", "moved", "lost", "late"})
            limiter.write(LogLevel::Info, "NetworkLock", std::string("the server's host route is ") + what);
    }
    EXPECT_EQ(out->lines().back().message, "the server's host route is late");
}

// A log file past its cap moves aside whole and a new one goes on.
TEST(LogFileCap, AFullLogFileMovesAsideAndANewOneTakesItsPlace) {
    hw::test::TempDir dir;
    const std::string path = dir.file("helper.log");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    ASSERT_GE(fd, 0);
    struct FdSink final : LogSink {
        int fd;
        explicit FdSink(int f) : fd(f) {}
        void write(LogLevel, std::string_view, std::string_view m) override {
            ASSERT_EQ(::write(fd, m.data(), m.size()), static_cast<ssize_t>(m.size()));
        }
    };
    LogFileCap cap(std::make_shared<FdSink>(fd), fd, 4096);
    for (int i = 0; i < 100; ++i) cap.write(LogLevel::Info, "x", std::string(99, 'a') + "\n");
    struct stat now {};
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    EXPECT_LT(now.st_size, 4096);
    EXPECT_EQ(now.st_mode & 0777, 0640u);
    EXPECT_GE(std::filesystem::file_size(path + ".1"), 4096u);
    EXPECT_LT(std::filesystem::file_size(path + ".1"), 4096u + 4096u / 16 + 200);
    ::close(fd);
}

}  // namespace
}  // namespace hw::helper
