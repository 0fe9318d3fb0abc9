#include "network/reachability.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/fake_http_client.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

using test::FakeHttpClient;

class ReachabilityTest : public ::testing::Test {
protected:
    std::optional<bool> check(HttpResponse response) {
        std::optional<bool> answer;
        reachability.checkReachability([&](bool ok) { answer = ok; });
        if (!http.requests.empty() && http.pendingCount() > 0) http.respond(std::move(response));
        EXPECT_FALSE(answer.has_value()) << "answers on the main queue, never inline";
        queue.runUntilIdle();
        return answer;
    }
    test::ManualQueue queue;
    FakeHttpClient http{queue};
    Reachability reachability{http, queue};
};

TEST_F(ReachabilityTest, HeadToTheBackendHostWithoutCachesTrueOnlyFor200) {
    reachability.setBackendHost("api.havenway.test");
    EXPECT_EQ(check(FakeHttpClient::ok("", 200)), true);
    ASSERT_EQ(http.requests.size(), 1u);
    EXPECT_EQ(http.requests[0].method, "HEAD");
    EXPECT_EQ(http.requests[0].url, "https://api.havenway.test");
    EXPECT_EQ(http.requests[0].timeoutMs, 10000);
    EXPECT_TRUE(http.requests[0].ignoreCache);

    for (const auto& reply : {FakeHttpClient::ok("", 204), FakeHttpClient::ok("", 503),
                              FakeHttpClient::failed(HttpTlsFailed, "bad certificate")}) {
        EXPECT_EQ(check(reply), false) << reply.status;
    }
}

TEST_F(ReachabilityTest, AHostThatWouldBendTheUrlIsNotAsked) {
    for (const char* bad : {"evil.test/x", "user@evil.test", "", "a b.test", "evil.test#frag", "evil.test:99999"}) {
        reachability.setBackendHost(bad);
        EXPECT_EQ(check({}), false) << bad;
    }
    EXPECT_TRUE(http.requests.empty());
    reachability.setBackendHost("127.0.0.1:28443");
    EXPECT_EQ(check(FakeHttpClient::ok("", 200)), true);
}

}  // namespace
}  // namespace hw
