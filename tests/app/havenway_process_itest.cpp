// The built application as a user starts it, with no helper and no backend:
// one copy per user, and a clean end on SIGTERM.
#include <thread>

#include "app/app_process_fixture.h"

namespace hw::test {
namespace {

using namespace std::chrono_literals;

class HavenwayProcess : public AppProcessTest {
protected:
    bool logShows(const std::string& log, const std::string& text, std::chrono::milliseconds bound) {
        for (const auto end = std::chrono::steady_clock::now() + bound; std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(20ms)) {
            if (TempDir::read(log).find(text) != std::string::npos) return true;
        }
        return false;
    }

    // Starts, shows its window, hands a second start's reopen over, ends on SIGTERM.
    void runTheRoad() {
        const std::string log = dir.file("first.log");
        app = spawn(log);
        ASSERT_GT(app, 0);
        ASSERT_TRUE(logShows(log, ": shown", 30s)) << TempDir::read(log);

        const pid_t second = spawn(dir.file("second.log"));
        EXPECT_EQ(waitChild(second, 10s), 0) << TempDir::read(dir.file("second.log"));
        EXPECT_TRUE(logShows(log, "a later start asked for reopen", 10s)) << TempDir::read(log);

        EXPECT_EQ(terminate(), 0) << TempDir::read(log);
        EXPECT_NE(TempDir::read(log).find("applicationWillTerminate complitely finished."), std::string::npos)
            << TempDir::read(log);
    }
};

TEST_F(HavenwayProcess, OneCopyPerUserAndACleanEndOnSIGTERM) { runTheRoad(); }

TEST_F(HavenwayProcess, WithoutARuntimeFolderTheTemporaryFolderServes) {
    env.erase("HAVENWAY_RUNTIME_DIR");
    runTheRoad();
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/havenway-" + std::to_string(::geteuid()) + "/instance.lock"));
}

}  // namespace
}  // namespace hw::test
