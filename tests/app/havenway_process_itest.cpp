// The built application as a user starts it, with no helper and no backend:
// one copy per user, and a clean end on SIGTERM.
#include "app/app_process_fixture.h"

namespace hw::test {
namespace {

using namespace std::chrono_literals;

using HavenwayProcess = AppProcessTest;

// Without a runtime folder the temporary folder holds the lock.
TEST_F(HavenwayProcess, OneCopyPerUserAndACleanEndOnSIGTERM) {
    env.erase("HAVENWAY_RUNTIME_DIR");
    const std::string log = dir.file("first.log");
    app = spawn(log);
    ASSERT_GT(app, 0);
    ASSERT_TRUE(logShows(log, ": shown", 30s)) << TempDir::read(log);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/havenway-" + std::to_string(::geteuid()) + "/instance.lock"));

    const pid_t second = spawn(dir.file("second.log"));
    EXPECT_EQ(waitChild(second, 10s), 0) << TempDir::read(dir.file("second.log"));
    EXPECT_TRUE(logShows(log, "a later start asked for reopen", 10s)) << TempDir::read(log);

    EXPECT_EQ(terminate(), 0) << TempDir::read(log);
    EXPECT_NE(TempDir::read(log).find("applicationWillTerminate complitely finished."), std::string::npos)
        << TempDir::read(log);
}

}  // namespace
}  // namespace hw::test
