// The retry policy of every protocol, in virtual time: back-off and its cap,
// no overlap, counting only while the network is reachable, a fresh count per
// user Connect, refusals ending at once, one announcement per attempt.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/manual_queue.h"
#include "windows/details_pane/reconnect_policy.h"

namespace hw::test {
namespace {

struct PolicyTest : ::testing::Test {
    PolicyTest() {
        ReconnectPolicy::Hooks hooks;
        hooks.startTry = [this] {
            starts.push_back(queue.now());
            // The pane says so as its try starts; a try never starts over a running one.
            EXPECT_NE(policy->state(), ReconnectPolicy::State::trying) << "a try started over a running one";
            policy->tryStarted();
        };
        hooks.endSession = [this] { ++sessionsEnded; };
        hooks.announce = [this] { ++announcements; };
        hooks.waitingForNetwork = [this](bool waiting) { waits.push_back(waiting); };
        hooks.limit = [this] { return limit; };
        hooks.gaveUp = [this] { ++gaveUp; };
        hooks.refused = [this] { ++refused; };
        hooks.countChanged = [this](int c) { counts.push_back(c); };
        policy = std::make_unique<ReconnectPolicy>(queue, std::move(hooks), ReconnectPolicy::Timing{500, 30000});
    }

    // The user's Connect: the pane's own first try.
    void userConnect() {
        policy->beginUserAttempt();
        policy->tryStarted();
    }
    // The try in flight ends, and the policy waits for the next to start.
    std::int64_t endAndWaitForNext() {
        const auto before = starts.size();
        const auto at = queue.now();
        policy->request(ReconnectReason::tryEnded);
        for (int i = 0; i < 1000 && starts.size() == before; ++i) queue.advance(100);
        return starts.size() > before ? starts.back() - at : -1;
    }

    ManualQueue queue;
    std::unique_ptr<ReconnectPolicy> policy;
    std::vector<std::int64_t> starts;
    std::vector<bool> waits;
    std::vector<int> counts;
    std::optional<int> limit;
    int sessionsEnded = 0, announcements = 0, gaveUp = 0, refused = 0;
};

TEST_F(PolicyTest, TriesBackOffFromTheFirstDelayToTheCap) {
    userConnect();
    std::vector<std::int64_t> gaps;
    for (int i = 0; i < 9; ++i) gaps.push_back(endAndWaitForNext());
    // The first as the Parts time it, then doubling, then the cap.
    EXPECT_EQ(gaps, (std::vector<std::int64_t>{500, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    EXPECT_EQ(policy->delayFor(0), 500);
    EXPECT_EQ(policy->delayFor(100000), 30000);
    EXPECT_EQ(announcements, 1) << "one banner for the attempt, whatever its tries";
    EXPECT_EQ(policy->count(), 9);
}

TEST_F(PolicyTest, ATryStartsOnlyAfterTheOneBeforeEndedAndASecondEndReportIsTakenOnce) {
    userConnect();
    // The try's end reported twice (a provider and the manager both tell).
    EXPECT_TRUE(policy->request(ReconnectReason::tryEnded));
    EXPECT_FALSE(policy->request(ReconnectReason::tryEnded));
    EXPECT_EQ(policy->state(), ReconnectPolicy::State::waiting);
    queue.advance(499);
    EXPECT_TRUE(starts.empty());
    queue.advance(1);
    ASSERT_EQ(starts.size(), 1u);
    // While it runs, nothing starts another, however long it takes.
    queue.advance(120000);
    EXPECT_EQ(starts.size(), 1u);
    EXPECT_EQ(policy->state(), ReconnectPolicy::State::trying);
    EXPECT_EQ(policy->count(), 1);
}

TEST_F(PolicyTest, WithALimitTheAttemptEndsOnceThatManyRetriesEnded) {
    limit = 4;
    userConnect();
    for (int i = 0; i < 4; ++i) ASSERT_GE(endAndWaitForNext(), 0);
    EXPECT_TRUE(policy->request(ReconnectReason::tryEnded));
    EXPECT_EQ(gaveUp, 1);
    EXPECT_EQ(policy->state(), ReconnectPolicy::State::idle);
    queue.advance(120000);
    EXPECT_EQ(starts.size(), 4u) << "the first try and four retries, then nothing";
    // A late report of the last try starts nothing.
    EXPECT_FALSE(policy->request(ReconnectReason::tryEnded));
    queue.advance(60000);
    EXPECT_EQ(starts.size(), 4u);
}

TEST_F(PolicyTest, EachUserConnectStartsTheCountAfresh) {
    limit = 2;
    userConnect();
    endAndWaitForNext();
    endAndWaitForNext();
    policy->request(ReconnectReason::tryEnded);
    ASSERT_EQ(gaveUp, 1);
    // The next Connect gets its retries again, and its own banner.
    userConnect();
    EXPECT_EQ(policy->count(), 0);
    EXPECT_EQ(endAndWaitForNext(), 500);
    EXPECT_EQ(endAndWaitForNext(), 1000);
    policy->request(ReconnectReason::tryEnded);
    EXPECT_EQ(gaveUp, 2);
    EXPECT_EQ(announcements, 2);
}

TEST_F(PolicyTest, TriesAreCountedOnlyWhileTheNetworkIsReachable) {
    limit = 10;
    userConnect();
    endAndWaitForNext();
    ASSERT_EQ(policy->count(), 1);
    // The network goes; the try in flight ends while it is gone: not counted,
    // and no try starts until it is back, however long that takes.
    policy->request(ReconnectReason::networkLost);
    policy->request(ReconnectReason::tryEnded);
    EXPECT_EQ(policy->state(), ReconnectPolicy::State::waitingForNetwork);
    EXPECT_EQ(waits, std::vector<bool>{true});
    queue.advance(600000);
    EXPECT_EQ(starts.size(), 1u);
    EXPECT_EQ(policy->count(), 1);
    // Back: a try within the first delay, the count where it was.
    policy->request(ReconnectReason::networkReturned);
    EXPECT_EQ(waits, (std::vector<bool>{true, false}));
    queue.advance(500);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(policy->count(), 1);
    EXPECT_EQ(gaveUp, 0);
    EXPECT_EQ(announcements, 1);
}

TEST_F(PolicyTest, ALostNetworkWhileWaitingHoldsTheNextTryUntilItReturns) {
    userConnect();
    policy->request(ReconnectReason::tryEnded);
    policy->request(ReconnectReason::networkLost);
    queue.advance(10000);
    EXPECT_TRUE(starts.empty());
    // A report that it is back while nothing waits for it changes nothing.
    policy->request(ReconnectReason::networkReturned);
    EXPECT_FALSE(policy->request(ReconnectReason::networkReturned));
    queue.advance(500);
    EXPECT_EQ(starts.size(), 1u);
}

TEST_F(PolicyTest, ARefusalEndsTheAttemptAtOnceLockOrNot) {
    for (const std::optional<int> rowLimit : {std::optional<int>(4), std::optional<int>()}) {
        limit = rowLimit;
        refused = 0;
        starts.clear();
        userConnect();
        EXPECT_TRUE(policy->request(ReconnectReason::refused));
        EXPECT_EQ(refused, 1);
        EXPECT_EQ(policy->state(), ReconnectPolicy::State::idle);
        queue.advance(120000);
        EXPECT_TRUE(starts.empty()) << "a refusal is not retried";
        // Its echo (the manager's down report) starts nothing either.
        EXPECT_FALSE(policy->request(ReconnectReason::tryEnded));
        queue.advance(60000);
        EXPECT_TRUE(starts.empty());
    }
}

TEST_F(PolicyTest, ADroppedTunnelEndsItsSessionAndStartsOneAttemptWithOneAnnouncement) {
    userConnect();
    policy->connected();
    EXPECT_EQ(policy->state(), ReconnectPolicy::State::connected);
    EXPECT_TRUE(policy->request(ReconnectReason::tryEnded));
    EXPECT_EQ(sessionsEnded, 1);
    EXPECT_EQ(announcements, 1);
    // The drop's echo and a reachability check in the middle ask again: taken once.
    EXPECT_FALSE(policy->request(ReconnectReason::tryEnded));
    EXPECT_FALSE(policy->request(ReconnectReason::networkReturned));
    queue.advance(500);
    ASSERT_EQ(starts.size(), 1u);
    policy->connected();
    EXPECT_EQ(announcements, 1);
    EXPECT_EQ(policy->count(), 0);
}

TEST_F(PolicyTest, ANetworkChangeOrAWakeEndsTheSessionInForceAndTriesAtOnceWithAFreshCount) {
    for (const ReconnectReason reason : {ReconnectReason::networkChanged, ReconnectReason::woke}) {
        SCOPED_TRACE(reconnectReasonName(reason));
        starts.clear();
        sessionsEnded = announcements = 0;
        userConnect();
        policy->connected();
        EXPECT_TRUE(policy->request(reason));
        EXPECT_EQ(sessionsEnded, 1);
        EXPECT_EQ(announcements, 1);
        queue.advance(500);
        ASSERT_EQ(starts.size(), 1u);
        // During the try a second change ends it and starts afresh, still one banner.
        EXPECT_TRUE(policy->request(reason));
        EXPECT_EQ(sessionsEnded, 2);
        EXPECT_EQ(policy->count(), 0);
        queue.advance(500);
        EXPECT_EQ(starts.size(), 2u);
        EXPECT_EQ(announcements, 1);
        policy->cancel();
    }
}

TEST_F(PolicyTest, ALostNetworkUnderAConnectedTunnelShowsReconnectingAtOnceAndTriesWhenItReturns) {
    userConnect();
    policy->connected();
    EXPECT_TRUE(policy->request(ReconnectReason::networkLost));
    EXPECT_EQ(policy->state(), ReconnectPolicy::State::waitingForNetwork);
    EXPECT_EQ(sessionsEnded, 1);
    EXPECT_EQ(announcements, 1);
    queue.advance(60000);
    EXPECT_TRUE(starts.empty());
    policy->request(ReconnectReason::networkReturned);
    queue.advance(500);
    EXPECT_EQ(starts.size(), 1u);
    EXPECT_EQ(policy->count(), 0);
}

TEST_F(PolicyTest, ACancelStopsEverythingDueAndTheNextEndStartsNothing) {
    userConnect();
    policy->request(ReconnectReason::tryEnded);
    policy->cancel();
    queue.advance(60000);
    EXPECT_TRUE(starts.empty());
    EXPECT_FALSE(policy->request(ReconnectReason::tryEnded));
    EXPECT_FALSE(policy->request(ReconnectReason::networkChanged));
    queue.advance(60000);
    EXPECT_TRUE(starts.empty());
}

TEST_F(PolicyTest, AWiFiRoadThatSetsTheCountPastTheLimitEndsTheAttemptAtTheNextEnd) {
    limit = 4;
    userConnect();
    endAndWaitForNext();
    policy->setCount(5);
    policy->request(ReconnectReason::tryEnded);
    EXPECT_EQ(gaveUp, 1);
}

// An hour of tries under the lock against a server that never answers at
// once: a few tries a minute at most, never two at a time.
TEST_F(PolicyTest, AnHourUnderTheLockIsAFewTriesAMinute) {
    userConnect();
    const std::int64_t hour = 3600 * 1000;
    while (queue.now() < hour) {
        queue.advance(100);  // each try fails 0.1 s in
        if (policy->state() == ReconnectPolicy::State::trying) policy->request(ReconnectReason::tryEnded);
    }
    EXPECT_LE(starts.size(), 130u);
    EXPECT_GE(starts.size(), 110u);
    EXPECT_EQ(announcements, 1);
}

}  // namespace
}  // namespace hw::test
