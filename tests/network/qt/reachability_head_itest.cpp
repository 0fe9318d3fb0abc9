// The backend check over real HTTPS: the testbed's backend answers it, and a
// listener that never speaks ends it in the timeout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>

#include "network/reachability.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "support/loopback_listener.h"
#include "support/qt_test_app.h"
#include "testbed/testbed_env.h"

namespace hw {
namespace {

class HttpsReachabilityTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtTestApp(); }
    std::optional<bool> check(Reachability& r) {
        std::optional<bool> answer;
        r.checkReachability([&](bool ok) { answer = ok; });
        test::spinUntil([&] { return answer.has_value(); });
        return answer;
    }
    QtMainQueue queue;
};

TEST_F(HttpsReachabilityTest, TheTestbedBackendPassesTheHeadCheck) {
    HW_REQUIRE_TESTBED(env);
    env.exportToEnvironment();
    QtHttpClient client(queue);
    Reachability reachability(client, queue);
    EXPECT_EQ(reachability.backendHost(), env.get("HAVENWAY_BACKEND_HOST")) << "the redirect names the host";
    EXPECT_EQ(check(reachability), true);
    ::unsetenv("HAVENWAY_BACKEND_HOST");
}

TEST_F(HttpsReachabilityTest, SilenceEndsInTheTimeout) {
    int port = 0;
    const int fd = test::listenOnLoopback(port);
    ASSERT_GE(fd, 0);
    QtHttpClient client(queue);
    Reachability reachability(client, queue, 1500);
    reachability.setBackendHost("127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(check(reachability), false);
    ::close(fd);
}

}  // namespace
}  // namespace hw
