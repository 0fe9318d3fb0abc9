#include "helper/log_limiter.h"

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

}  // namespace
}  // namespace hw::helper
