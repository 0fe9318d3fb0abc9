#include "platform/qt/qt_single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "platform/single_instance.h"
#include "support/qt_test_app.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

class QtSingleInstanceTest : public ::testing::Test, private test::QtAppFirst {
protected:
    test::TempDir dir;
    test::ScopedEnv env{"HAVENWAY_RUNTIME_DIR", dir.path().c_str()};

    // Forwards from another thread while this one runs the loop, as a later start does.
    bool forward(const std::string& line, std::string* why) {
        auto sent = std::async(std::launch::async, [&] {
            return single_instance::forward(dir.path() + "/instance.sock", line, 2000, why);
        });
        test::spinUntil([&] { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000);
        return sent.get();
    }
};

// The running copy listens over the socket file a copy that died left, answers
// later starts on a socket only its user can reach, hands each request to the
// handler on the main thread, and drops garbage without taking the listener down.
TEST_F(QtSingleInstanceTest, HandsOverRequestsAndDropsWhatItCannotRead) {
    const std::string stale = dir.path() + "/instance.sock";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, stale.c_str(), stale.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    auto first = QtSingleInstance::start(std::nullopt);
    ASSERT_EQ(first.outcome, QtSingleInstance::Outcome::Primary) << first.why;
    std::string error;
    ASSERT_TRUE(first.primary->listen(&error)) << error;
    struct stat st{};
    ASSERT_EQ(::stat((dir.path() + "/instance.sock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);

    std::vector<std::optional<std::string>> handed;
    const auto mainThread = std::this_thread::get_id();
    first.primary->setHandler([&](const std::optional<std::string>& url) {
        EXPECT_TRUE(std::this_thread::get_id() == mainThread);
        handed.push_back(url);
    });

    std::string why;
    EXPECT_FALSE(forward("garbage", &why));
    EXPECT_TRUE(forward("url havenway://code", &why)) << why;
    EXPECT_TRUE(forward("reopen", &why)) << why;
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_EQ(handed[0], std::optional<std::string>("havenway://code"));
    EXPECT_EQ(handed[1], std::nullopt);
}

// A copy that is ending takes a later start's request, then ends without an
// answer: its lock gone, that start becomes the running copy rather than
// leaving none (an update's restart comes just then).
TEST_F(QtSingleInstanceTest, AStartWhoseRequestTheEndingCopyDropsTakesOver) {
    auto held = single_instance::tryLock(dir.path(), nullptr);
    ASSERT_TRUE(held);
    const std::string path = dir.path() + "/instance.sock";
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.get(), 1), 0);
    std::thread ending([&] {
        UniqueFd peer(::accept(listener.get(), nullptr, nullptr));
        held->reset();
    });
    auto next = QtSingleInstance::start(std::nullopt);
    ending.join();
    EXPECT_EQ(next.outcome, QtSingleInstance::Outcome::Primary) << next.why;
}

}  // namespace
}  // namespace hw
