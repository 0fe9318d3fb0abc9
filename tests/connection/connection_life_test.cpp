// The connection's life in virtual time: back-off and its cap, no overlap,
// counting only while the network is reachable, a fresh count per Connect,
// refusals ending at once, one announcement per attempt, and every event sent
// early, late, twice or after an end.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/manual_queue.h"
#include "connection/connection_life.h"

namespace hw::test {
namespace {

struct ConnectionLifeTest : ::testing::Test {
    ConnectionLifeTest() {
        ConnectionLife::Hooks hooks;
        hooks.startTry = [this] {
            starts.push_back(queue.now());
            // The pane says so as its try starts; a try never starts over a running one.
            EXPECT_NE(policy->state(), ConnectionLife::State::connecting) << "a try started over a running one";
            policy->tryStarted();
        };
        hooks.endSession = [this] { ++sessionsEnded; };
        hooks.announce = [this](bool hadConnected) {
            ++announcements;
            announcedDrop = hadConnected;
        };
        hooks.stateChanged = [this](ConnectionLife::State from, ConnectionLife::State to) {
            using S = ConnectionLife::State;
            if (to == S::waitingForNetwork) waits.push_back(true);
            else if (from == S::waitingForNetwork) waits.push_back(false);
        };
        hooks.lockEngaged = [this] { return lockEngaged; };
        hooks.limit = [this] { return limit; };
        hooks.gaveUp = [this] { ++gaveUp; };
        hooks.refused = [this](bool) { ++refused; };
        hooks.countChanged = [this](int c) { counts.push_back(c); };
        policy = std::make_unique<ConnectionLife>(queue, std::move(hooks), ConnectionLife::Timing{500, 30000});
    }

    // The user's Connect: the pane's own first try.
    void userConnect() {
        policy->begin(ConnectionLife::Origin::user);
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
    std::unique_ptr<ConnectionLife> policy;
    std::vector<std::int64_t> starts;
    std::vector<bool> waits;
    std::vector<int> counts;
    std::optional<int> limit;
    bool lockEngaged = false;
    std::optional<bool> announcedDrop;
    int sessionsEnded = 0, announcements = 0, gaveUp = 0, refused = 0;
};

TEST_F(ConnectionLifeTest, TriesBackOffFromTheFirstDelayToTheCap) {
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

TEST_F(ConnectionLifeTest, ATryStartsOnlyAfterTheOneBeforeEndedAndASecondEndReportIsTakenOnce) {
    userConnect();
    // The try's end reported twice (a provider and the manager both tell).
    EXPECT_TRUE(policy->request(ReconnectReason::tryEnded));
    EXPECT_FALSE(policy->request(ReconnectReason::tryEnded));
    EXPECT_EQ(policy->state(), ConnectionLife::State::waiting);
    queue.advance(499);
    EXPECT_TRUE(starts.empty());
    queue.advance(1);
    ASSERT_EQ(starts.size(), 1u);
    // While it runs, nothing starts another, however long it takes.
    queue.advance(120000);
    EXPECT_EQ(starts.size(), 1u);
    EXPECT_EQ(policy->state(), ConnectionLife::State::connecting);
    EXPECT_EQ(policy->count(), 1);
}

TEST_F(ConnectionLifeTest, WithALimitTheAttemptEndsOnceThatManyRetriesEnded) {
    limit = 4;
    userConnect();
    for (int i = 0; i < 4; ++i) ASSERT_GE(endAndWaitForNext(), 0);
    EXPECT_TRUE(policy->request(ReconnectReason::tryEnded));
    EXPECT_EQ(gaveUp, 1);
    EXPECT_EQ(policy->state(), ConnectionLife::State::disconnected);
    queue.advance(120000);
    EXPECT_EQ(starts.size(), 4u) << "the first try and four retries, then nothing";
    // A late report of the last try starts nothing.
    EXPECT_FALSE(policy->request(ReconnectReason::tryEnded));
    queue.advance(60000);
    EXPECT_EQ(starts.size(), 4u);
}

TEST_F(ConnectionLifeTest, EachUserConnectStartsTheCountAfresh) {
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

TEST_F(ConnectionLifeTest, TriesAreCountedOnlyWhileTheNetworkIsReachable) {
    limit = 10;
    userConnect();
    endAndWaitForNext();
    ASSERT_EQ(policy->count(), 1);
    // The network goes; the try in flight ends while it is gone: not counted,
    // and no try starts until it is back, however long that takes.
    policy->request(ReconnectReason::networkLost);
    policy->request(ReconnectReason::tryEnded);
    EXPECT_EQ(policy->state(), ConnectionLife::State::waitingForNetwork);
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

TEST_F(ConnectionLifeTest, ALostNetworkWhileWaitingHoldsTheNextTryUntilItReturns) {
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

TEST_F(ConnectionLifeTest, ARefusalEndsTheAttemptAtOnceLockOrNot) {
    for (const std::optional<int> rowLimit : {std::optional<int>(4), std::optional<int>()}) {
        limit = rowLimit;
        refused = 0;
        starts.clear();
        userConnect();
        EXPECT_TRUE(policy->request(ReconnectReason::refused));
        EXPECT_EQ(refused, 1);
        EXPECT_EQ(policy->state(), ConnectionLife::State::disconnected);
        queue.advance(120000);
        EXPECT_TRUE(starts.empty()) << "a refusal is not retried";
        // Its echo (the manager's down report) starts nothing either.
        EXPECT_FALSE(policy->request(ReconnectReason::tryEnded));
        queue.advance(60000);
        EXPECT_TRUE(starts.empty());
    }
}

TEST_F(ConnectionLifeTest, ADroppedTunnelEndsItsSessionAndStartsOneAttemptWithOneAnnouncement) {
    userConnect();
    policy->tunnelEstablished();
    EXPECT_EQ(policy->state(), ConnectionLife::State::connected);
    EXPECT_TRUE(policy->request(ReconnectReason::tryEnded));
    EXPECT_EQ(sessionsEnded, 1);
    EXPECT_EQ(announcements, 1);
    // The drop's echo and a reachability check in the middle ask again: taken once.
    EXPECT_FALSE(policy->request(ReconnectReason::tryEnded));
    EXPECT_FALSE(policy->request(ReconnectReason::networkReturned));
    queue.advance(500);
    ASSERT_EQ(starts.size(), 1u);
    // The first retry's delay comes once: the tries after the drop's own go on doubling.
    EXPECT_EQ(endAndWaitForNext(), 1000);
    EXPECT_EQ(endAndWaitForNext(), 2000);
    policy->tunnelEstablished();
    EXPECT_EQ(announcements, 1);
    EXPECT_EQ(policy->count(), 0);
}

TEST_F(ConnectionLifeTest, ANetworkChangeOrAWakeEndsTheSessionInForceAndTriesAtOnceWithAFreshCount) {
    for (const ReconnectReason reason : {ReconnectReason::networkChanged, ReconnectReason::woke}) {
        SCOPED_TRACE(reconnectReasonName(reason));
        starts.clear();
        sessionsEnded = announcements = 0;
        userConnect();
        policy->tunnelEstablished();
        EXPECT_TRUE(policy->request(reason));
        EXPECT_EQ(sessionsEnded, 1);
        EXPECT_EQ(announcements, 1);
        queue.advance(500);
        ASSERT_EQ(starts.size(), 1u);
        // During the try, past the first change's second, a second change
        // ends it and starts afresh, still one banner.
        queue.advance(600);
        EXPECT_TRUE(policy->request(reason));
        EXPECT_EQ(sessionsEnded, 2);
        EXPECT_EQ(policy->count(), 0);
        queue.advance(500);
        EXPECT_EQ(starts.size(), 2u);
        EXPECT_EQ(announcements, 1);
        policy->cancel();
    }
}

TEST_F(ConnectionLifeTest, ALostNetworkUnderAConnectedTunnelShowsReconnectingAtOnceAndTriesWhenItReturns) {
    userConnect();
    policy->tunnelEstablished();
    EXPECT_TRUE(policy->request(ReconnectReason::networkLost));
    EXPECT_EQ(policy->state(), ConnectionLife::State::waitingForNetwork);
    EXPECT_EQ(sessionsEnded, 1);
    EXPECT_EQ(announcements, 1);
    queue.advance(60000);
    EXPECT_TRUE(starts.empty());
    policy->request(ReconnectReason::networkReturned);
    queue.advance(500);
    EXPECT_EQ(starts.size(), 1u);
    EXPECT_EQ(policy->count(), 0);
}

TEST_F(ConnectionLifeTest, ACancelStopsEverythingDueAndTheNextEndStartsNothing) {
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

// Every event early, late, twice, and after Cancel, sign-out or a refusal.
// A row's script runs in order; "wait" lets a minute of virtual time pass.
TEST_F(ConnectionLifeTest, EveryEventLeadsToTheTruth) {
    using S = ConnectionLife::State;
    using O = ConnectionLife::Origin;
    struct Row {
        const char* name;
        bool lock;
        O origin;
        std::vector<std::string> script;
        S state;
        std::size_t starts;     // paced tries the machine started
        int sessionsEnded;      // sessions it asked to end
        int announced;          // banners
        std::optional<bool> drop;  // the banner's "a tunnel was up"
    };
    const std::vector<Row> rows = {
        {"a late established after Cancel ends its tunnel, and no blip reconnects", false, O::user,
         {"connect", "cancel", "established", "lost", "back", "changed", "wait"}, S::disconnected, 0, 1, 0, {}},
        {"after sign-out a blip or a wake brings nothing", false, O::user,
         {"connect", "established", "signOut", "lost", "back", "woke", "end", "wait"}, S::disconnected, 0, 0, 0, {}},
        {"a refusal under the lock holds it; nothing later tries, a late tunnel ends", true, O::user,
         {"connect", "refuse", "refuse", "end", "changed", "back", "established", "wait"}, S::heldByLock, 0, 1, 0, {}},
        {"a refusal without the lock ends the attempt; its echo starts nothing", false, O::user,
         {"connect", "end", "wait", "refuse", "end", "wait"}, S::disconnected, 1, 0, 1, false},
        {"lifting a held lock ends it; a blip after starts nothing", true, O::user,
         {"connect", "refuse", "lift", "lost", "back", "wait"}, S::disconnected, 0, 0, 0, {}},
        {"an end before the first try started is the session before's echo", false, O::user,
         {"begin", "end", "wait"}, S::connecting, 0, 0, 0, {}},
        {"an end of an earlier try is dropped", false, O::user,
         {"connect", "ticket", "end", "wait", "staleEnd"}, S::connecting, 1, 0, 1, false},
        {"an end of the attempt before a new Connect is dropped", false, O::user,
         {"connect", "ticket", "cancel", "connect", "staleEnd", "wait"}, S::connecting, 0, 0, 0, {}},
        {"a drop of a tunnel that was up is announced as one", false, O::user,
         {"connect", "established", "end", "end", "wait"}, S::connecting, 1, 1, 1, true},
        {"Wi-Fi security's attempt ends on a secure network while it waits", false, O::wifiSecurity,
         {"connect", "end", "secure", "wait", "established"}, S::disconnected, 0, 2, 1, false},
        {"Wi-Fi security keeps its mark across a reconnect it made, and then ends", false, O::wifiSecurity,
         {"connect", "established", "changed", "wait", "established", "secure"}, S::disconnected, 1, 2, 1, true},
        {"a secure network leaves the user's own tunnel", false, O::user,
         {"connect", "established", "secure"}, S::connected, 0, 0, 0, {}},
        {"a lost network under a tunnel waits, then tries once it returns", false, O::user,
         {"connect", "established", "lost", "wait", "back", "wait"}, S::connecting, 1, 1, 1, true},
        // What a try asked for (a helper reply, a provider's report, the
        // timers before its dial) names it: "current"/"stale" check the one kept.
        {"the Connect's start is its own before the first try, and stale once that runs", false, O::user,
         {"begin", "ticket", "current", "startTry", "stale", "ticket", "current"}, S::connecting, 0, 0, 0, {}},
        {"a report of an ended try is stale while the next waits and once it runs", false, O::user,
         {"connect", "ticket", "end", "stale", "wait", "stale", "staleEnd"}, S::connecting, 1, 0, 1, false},
        {"the connected try's reports stay its own until its drop", false, O::user,
         {"connect", "ticket", "established", "current", "end", "stale", "wait"}, S::connecting, 1, 1, 1, true},
        {"nothing of a try is current after Cancel, nor after the next Connect", false, O::user,
         {"connect", "ticket", "cancel", "stale", "connect", "stale"}, S::connecting, 0, 0, 0, {}},
        {"nothing of a try is current after sign-out", false, O::user,
         {"connect", "ticket", "established", "signOut", "stale", "wait"}, S::disconnected, 0, 0, 0, {}},
        {"nothing of a refused try is current while the lock holds", true, O::user,
         {"connect", "ticket", "refuse", "stale", "staleEnd", "wait"}, S::heldByLock, 0, 0, 0, {}},
        {"a sleep counts the tries after the wake afresh, its pacing too", false, O::user,
         {"connect", "end", "wait", "end", "wait", "sleep", "end", "afresh", "wait"}, S::connecting, 3, 0, 1, false},
        {"a new way out after the old one was lost (Wi-Fi to wired) tries at once", false, O::user,
         {"connect", "established", "lost", "wait", "changed", "changed", "wait"}, S::connecting, 1, 1, 1, true},
        // A change within the first second of the reconnect the one before
        // began folds into it while its try has not begun; once it has, the
        // try starts again on the new way out ("+N": N ms pass). One banner.
        {"a change 0.3 s after folds into the reconnect whose try is due", false, O::user,
         {"connect", "established", "changed", "+300", "changed", "wait"}, S::connecting, 1, 1, 1, true},
        {"a change 0.8 s after, the reconnect's try running, starts that try again", false, O::user,
         {"connect", "established", "changed", "+700", "changed", "wait"}, S::connecting, 2, 2, 1, true},
        {"a change 0.8 s after, the reconnect connected, leaves no tunnel on the old way", false, O::user,
         {"connect", "established", "changed", "+700", "established", "+100", "changed", "woke", "wait"}, S::connecting, 2,
         2, 1, true},
        {"a change 1.5 s after is a reconnect of its own", false, O::user,
         {"connect", "established", "changed", "+1500", "changed", "wait"}, S::connecting, 2, 2, 1, true},
        {"a Connect after a Cancel does not fold the next change into the cancelled reconnect", false, O::user,
         {"connect", "established", "changed", "cancel", "connect", "+200", "changed", "wait"}, S::connecting, 1, 2, 2,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        queue.advance(600000);
        policy->cancel();
        lockEngaged = row.lock;
        starts.clear();
        sessionsEnded = announcements = refused = 0;
        announcedDrop.reset();
        ConnectionLife::Ticket kept;
        for (const std::string& step : row.script) {
            if (step == "connect") {
                policy->begin(row.origin);
                policy->tryStarted();
            } else if (step == "begin") {
                policy->begin(row.origin);
            } else if (step == "established") {
                policy->tunnelEstablished();
            } else if (step == "cancel") {
                policy->cancel();
            } else if (step == "signOut") {
                policy->signOut();
            } else if (step == "refuse") {
                policy->request(ReconnectReason::refused);
            } else if (step == "end") {
                policy->request(ReconnectReason::tryEnded);
            } else if (step == "lost") {
                policy->request(ReconnectReason::networkLost);
            } else if (step == "back") {
                policy->request(ReconnectReason::networkReturned);
            } else if (step == "changed") {
                policy->request(ReconnectReason::networkChanged);
            } else if (step == "woke") {
                policy->request(ReconnectReason::woke);
            } else if (step == "secure") {
                policy->secureNetwork();
            } else if (step == "lift") {
                policy->lockLifted();
            } else if (step == "ticket") {
                kept = policy->ticket();
            } else if (step == "startTry") {
                policy->tryStarted();
            } else if (step == "current") {
                EXPECT_TRUE(policy->isCurrent(kept, "a report"));
            } else if (step == "stale") {
                EXPECT_FALSE(policy->isCurrent(kept, "a report"));
            } else if (step == "sleep") {
                policy->deviceWillSleep();
            } else if (step == "afresh") {
                // Without the sleep: the third retry, two seconds on.
                EXPECT_EQ(policy->count(), 1);
                EXPECT_EQ(policy->nextDelayMs(), 500);
            } else if (step == "staleEnd") {
                EXPECT_FALSE(policy->request(ReconnectReason::tryEnded, kept));
            } else if (step == "wait") {
                queue.advance(60000);
            } else if (step[0] == '+') {
                queue.advance(std::stoi(step.substr(1)));
            } else {
                FAIL() << "unknown step " << step;
            }
        }
        EXPECT_EQ(ConnectionLife::stateName(policy->state()), std::string(ConnectionLife::stateName(row.state)));
        EXPECT_EQ(starts.size(), row.starts);
        EXPECT_EQ(sessionsEnded, row.sessionsEnded);
        EXPECT_EQ(announcements, row.announced);
        EXPECT_EQ(announcedDrop, row.drop);
        EXPECT_EQ(policy->reconnecting(), policy->state() == S::connecting && row.announced > 0);
        // Every row that ends disconnected was ended on purpose: what is
        // left of it is dropped until the next attempt begins.
        EXPECT_EQ(policy->stopped(), policy->state() == S::disconnected);
    }
}

// An hour of tries under the lock against a server that never answers at
// once: a few tries a minute at most, never two at a time.
TEST_F(ConnectionLifeTest, AnHourUnderTheLockIsAFewTriesAMinute) {
    userConnect();
    const std::int64_t hour = 3600 * 1000;
    while (queue.now() < hour) {
        queue.advance(100);  // each try fails 0.1 s in
        if (policy->state() == ConnectionLife::State::connecting) policy->request(ReconnectReason::tryEnded);
    }
    EXPECT_LE(starts.size(), 130u);
    EXPECT_GE(starts.size(), 110u);
    EXPECT_EQ(announcements, 1);
}

}  // namespace
}  // namespace hw::test
