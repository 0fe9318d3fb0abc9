#include "network/probe_url_reachability_helper.h"

#include <gtest/gtest.h>

#include "support/fake_http_client.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

using test::FakeHttpClient;

struct RecordingDelegate : ProbeURLDelegate {
    void onProbeURL_Succeded() override { outcomes.push_back("succeeded"); }
    void onProbeURL_Failed() override { outcomes.push_back("failed"); }
    std::vector<std::string> outcomes;
};

class ProbeTest : public ::testing::Test {
protected:
    ProbeTest() { probe.delegate = delegate; }
    test::ManualQueue queue;
    FakeHttpClient http{queue};
    ProbeURLReachabilityHelper probe{http, queue};
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    static HttpResponse timedOut() { return FakeHttpClient::failed(HttpTimedOut, "timed out"); }
};

TEST_F(ProbeTest, BacksOffWithGrowingTimeoutsUntilTheLimit) {
    probe.startProbeURLChecking("https://probe.havenway.test/check");
    EXPECT_TRUE(probe.probeURLCallInProgress());
    std::vector<double> timeouts;
    std::vector<std::int64_t> startedAt;
    for (int i = 0; i < ProbeURLReachabilityHelper::kMaxAttempts; ++i) {
        ASSERT_EQ(http.requests.size(), static_cast<std::size_t>(i + 1));
        timeouts.push_back(http.requests.back().timeoutMs);
        startedAt.push_back(queue.now());
        EXPECT_TRUE(http.requests.back().ignoreCache);
        http.respond(timedOut());
        queue.runUntilIdle();
        if (i + 1 < ProbeURLReachabilityHelper::kMaxAttempts) {
            // The next attempt waits exactly as long as this one's timeout.
            queue.advance(timeouts.back() - 1);
            EXPECT_EQ(http.requests.size(), static_cast<std::size_t>(i + 1));
            queue.advance(1);
        }
    }
    EXPECT_EQ(timeouts, (std::vector<double>{1500, 3000, 6000, 12000, 12000, 12000}));
    EXPECT_EQ(delegate->outcomes, (std::vector<std::string>{"failed"}));
    EXPECT_FALSE(probe.probeURLCallInProgress());
    queue.advance(60000);
    EXPECT_EQ(http.requests.size(), 6u) << "no attempt past the limit";
}

TEST_F(ProbeTest, AnyTwoHundredAnswerEndsTheSequence) {
    probe.startProbeURLChecking("https://probe.havenway.test/");
    http.respond(FakeHttpClient::ok("", 503));
    queue.runUntilIdle();
    queue.advance(1500);
    http.respond(FakeHttpClient::ok("", 204));
    queue.runUntilIdle();
    EXPECT_EQ(delegate->outcomes, (std::vector<std::string>{"succeeded"}));

    // A new sequence starts again from the first timeout.
    probe.startProbeURLChecking("https://probe.havenway.test/");
    EXPECT_EQ(http.requests.back().timeoutMs, 1500);
}

TEST_F(ProbeTest, StopLetsTheRunningRequestFinishButDropsItsOutcome) {
    probe.startProbeURLChecking("https://probe.havenway.test/");
    probe.stopProbeURLChecking();
    EXPECT_TRUE(probe.cancelProbeURLChecking());
    EXPECT_TRUE(probe.probeURLCallInProgress()) << "the request in flight still runs";
    http.respond(FakeHttpClient::ok("", 200));
    queue.runUntilIdle();
    EXPECT_TRUE(delegate->outcomes.empty()) << "a stopped probe must not start a connection";
    EXPECT_FALSE(probe.probeURLCallInProgress());

    // A stop between attempts ends at once.
    probe.startProbeURLChecking("https://probe.havenway.test/");
    http.respond(timedOut());
    queue.runUntilIdle();
    probe.stopProbeURLChecking();
    EXPECT_FALSE(probe.probeURLCallInProgress());
    queue.advance(60000);
    EXPECT_EQ(http.requests.size(), 2u);
}

TEST_F(ProbeTest, RestartAbandonsTheOldSequenceSilently) {
    probe.startProbeURLChecking("https://a.havenway.test/");
    probe.startProbeURLChecking("https://b.havenway.test/");
    http.respond(FakeHttpClient::ok("", 200));  // the first request's late answer
    queue.runUntilIdle();
    EXPECT_TRUE(delegate->outcomes.empty());
    EXPECT_TRUE(probe.probeURLCallInProgress());
    http.respond(FakeHttpClient::ok("", 200));
    queue.runUntilIdle();
    EXPECT_EQ(delegate->outcomes, (std::vector<std::string>{"succeeded"}));
}

TEST_F(ProbeTest, ABadAddressFailsWithoutARequestAndAGoneDelegateIsNotCalled) {
    probe.startProbeURLChecking("file:///etc/passwd");
    EXPECT_TRUE(delegate->outcomes.empty()) << "answers later, on the main queue";
    queue.runUntilIdle();
    EXPECT_EQ(delegate->outcomes, (std::vector<std::string>{"failed"}));
    EXPECT_TRUE(http.requests.empty());

    delegate.reset();
    probe.startProbeURLChecking("https://probe.havenway.test/");
    http.respond(FakeHttpClient::ok("", 200));
    queue.runUntilIdle();
    EXPECT_FALSE(probe.probeURLCallInProgress());
}

}  // namespace
}  // namespace hw
