#include "connection/vpn_connection_manager_helper_adapter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/fake_helper_install.h"
#include "support/fake_helper_tool.h"
#include "support/fake_process_runner.h"

namespace hw {
namespace {

// A Disconnect given while the helper is gone (the lock's release first of
// all) is carried out once it answers again, unless a start came between.
class HelperReplay : public ::testing::Test {
protected:
    void SetUp() override {
        tool_.responder = [](const HelperMessage&) -> std::optional<HelperMessage> {
            return HelperMessage{{"reply", "YES"}, {"engaged", false}};
        };
        // It answered once: from then on, out of reach means gone.
        std::optional<bool> engaged;
        adapter_.networkLockState([&](std::optional<bool> e) { engaged = e; });
        ASSERT_TRUE(queue_.waitFor([&] { return engaged.has_value(); }));
    }
    void helperDies() {
        tool_.refuseConnections = true;
        tool_.restart();
    }
    // Runs until the calls so far have their answers.
    void settle() {
        bool answered = false;
        adapter_.networkLockState([&](std::optional<bool>) { answered = true; });
        ASSERT_TRUE(queue_.waitFor([&] { return answered; }));
    }
    void helperAnswersAgain() {
        tool_.refuseConnections = false;
        nowMs_ += HelperTool_XPC_Connector::kLongestBackoffMs;
    }
    std::vector<std::string> sentSince(std::size_t from) {
        std::vector<std::string> names;
        const auto messages = tool_.messages();
        for (std::size_t i = from; i < messages.size(); ++i) names.push_back(*helperString(messages[i], "rpc"));
        return names;
    }
    // One probe's worth of virtual time, and the answers it brings.
    void probeOnce(std::size_t expectMessages) {
        queue_.inner.advance(VPNConnectionManagerHelperAdapter::kProbeMs);
        ASSERT_TRUE(tool_.waitForMessages(expectMessages)) << tool_.messages().size();
        queue_.inner.runUntilIdle();
    }

    test::HelperTestQueue queue_;
    test::FakeHelperTool tool_{queue_};
    std::int64_t nowMs_ = 0;
    HelperTool_XPC_Connector connector_{queue_, tool_.factory(queue_), [this] { return nowMs_; }};
    test::FakeHelperJobTable jobs_;
    test::FakeHelperInstaller installer_{queue_};
    test::FakeProcessRunner runner_;
    HelperToolManager manager_{queue_, connector_, jobs_, installer_, runner_, "1.0.0"};
    VPNConnectionManagerHelperAdapter adapter_{manager_, jobs_, queue_};
};

TEST_F(HelperReplay, ADisconnectGivenWhileTheHelperWasGoneIsCarriedOutOnceItAnswers) {
    helperDies();
    int terminated = 0, carriedOut = 0;
    adapter_.setTeardownCarriedOut([&] { ++carriedOut; });
    // Given twice: carried out once.
    for (int i = 0; i < 2; ++i) {
        adapter_.terminatePreviousOpenVPNProcesses([&](bool) { ++terminated; });
        adapter_.restore_DNS_to_original(true, false);
        adapter_.reEnableIPV6();
        adapter_.disableNetworkLock(std::string("192.0.2.1"));
    }
    settle();
    EXPECT_TRUE(manager_.helperDied());
    EXPECT_EQ(terminated, 2);

    helperAnswersAgain();
    const std::size_t before = tool_.messages().size();
    probeOnce(before + 6);
    // Each once, after the answer that showed the helper back (in the order
    // the client sends them, as the Disconnect itself went), and a question
    // whose answer comes once they are done.
    auto sent = sentSince(before);
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent.front(), "networkLockState");
    EXPECT_EQ(sent.back(), "networkLockState");
    EXPECT_TRUE(queue_.waitFor([&] { return carriedOut == 1; }));
    sent.pop_back();
    std::sort(sent.begin() + 1, sent.end());
    EXPECT_EQ(sent, (std::vector<std::string>{"networkLockState", "disableNetworkLock", "reEnableIPV6",
                                              "restore_DNS_to_original", "terminatePreviousOpenVPNProcesses"}));
    for (const auto& m : tool_.messages()) {
        if (*helperString(m, "rpc") != "disableNetworkLock") continue;
        const HelperDictionary* release = helperDictionary(m, "parameters");
        ASSERT_TRUE(release);
        EXPECT_EQ(*helperString(*release, "gatewayAddress"), "192.0.2.1");
    }
    EXPECT_EQ(terminated, 2) << "the caller hears its own answer only";

    // Done: nothing more is asked.
    queue_.inner.advance(VPNConnectionManagerHelperAdapter::kProbeMs * 3);
    queue_.inner.runUntilIdle();
    EXPECT_EQ(tool_.messages().size(), before + 6);
    EXPECT_EQ(carriedOut, 1);
}

TEST_F(HelperReplay, AStartGivenMeanwhileOrARefusalIsNotUndone) {
    struct Row {
        const char* what;
        bool dies;
        bool startsAfter;
    };
    for (auto row : {Row{"a connect given after the Disconnect", true, true},
                     Row{"a helper that answered and refused", false, false}}) {
        SCOPED_TRACE(row.what);
        tool_.responder = [](const HelperMessage&) -> std::optional<HelperMessage> {
            return HelperMessage{{"reply", "NO"}, {"engaged", true}};
        };
        if (row.dies) helperDies();
        adapter_.disableNetworkLock(std::nullopt);
        if (row.startsAfter) adapter_.enableNetworkLock([](const std::string&, bool) {});
        settle();

        helperAnswersAgain();
        const std::size_t before = tool_.messages().size();
        queue_.inner.advance(VPNConnectionManagerHelperAdapter::kProbeMs * 3);
        queue_.inner.runUntilIdle();
        settle();
        for (const auto& name : sentSince(before)) EXPECT_NE(name, "disableNetworkLock");
    }
}

}  // namespace
}  // namespace hw
