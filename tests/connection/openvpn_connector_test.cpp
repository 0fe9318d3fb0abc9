#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "connection/openvpn_connector.h"
#include "openvpn_fake_management.h"
#include "support/capture_log.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

using test::FakeManagementServer;
using test::ManualQueue;
using test::pumpUntil;

class RecordingEvents final : public OpenVPNConnectorEvents {
public:
    std::vector<std::string> events;
    std::vector<std::string> logs;
    bool onMainThread = true;
    ManualQueue* queue = nullptr;

    void note(std::string e) {
        if (queue && !queue->isMainThread()) onMainThread = false;
        events.push_back(std::move(e));
    }
    void onConnected() override { note("connected"); }
    void onDisconnected() override { note("disconnected"); }
    void onNotReachable() override { note("notReachable"); }
    void onReConnected() override { note("reconnected"); }
    void onStateChanged(const std::optional<std::string>& s) override { note("state " + s.value_or("(none)")); }
    void onError(std::uint32_t code) override { note("error " + std::to_string(code)); }
    void onLog(const std::optional<std::string>& line) override { logs.push_back(line.value_or("")); }
    void onGatewayChanged(const std::optional<std::string>& gw) override { note("gateway " + gw.value_or("")); }
    bool has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
    int count(const std::string& e) const { return static_cast<int>(std::count(events.begin(), events.end(), e)); }
};

class OpenVPNConnectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        events.queue = &queue;
        connector = std::make_unique<OpenVPNConnector>(queue);
        connector->setEventDelegate(&events);
    }
    // Attaches to the handed-over interface and plays the opening of the dialogue.
    void attach() {
        connector->setManagementSocket(server.handOver());
        connector->connect();
        EXPECT_EQ(server.readLine(), "state on all");
        EXPECT_EQ(server.readLine(), "log on");
    }

    ManualQueue queue;
    FakeManagementServer server;
    RecordingEvents events;
    std::unique_ptr<OpenVPNConnector> connector;
};

TEST_F(OpenVPNConnectorTest, PasswordRequestIsAnsweredQuotedAndCredentialsStayOutOfTheLogs) {
    auto capture = test::CaptureLog::install();
    connector->setUsername("al ice");
    connector->setPassword("p\"a\\ss word");
    attach();
    server.sendLine(">PASSWORD:Need 'Auth' username/password");
    EXPECT_EQ(server.readLine(), "username \"Auth\" \"al ice\"");
    EXPECT_EQ(server.readLine(), "password \"Auth\" \"p\\\"a\\\\ss word\"");
    server.sendLine(">LOG:1,D,MANAGEMENT: CMD 'username \"Auth\" \"al ice\"'");
    server.sendLine(">LOG:1,D,MANAGEMENT: CMD 'password [...]'");
    server.sendLine(">LOG:1,W,AUTH: bad password p\"a\\ss word for al");
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.logs.size() == 4; }));
    EXPECT_EQ(events.logs[0], ">PASSWORD:Need 'Auth' username/password");
    EXPECT_EQ(events.logs[3], ">LOG:1,W,AUTH: bad password [...] for al") << "a server's echo of it";
    const auto lines = capture->lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.message.find("AUTH: bad") != std::string::npos; }), 1)
        << "every line is logged once";
    for (const auto& line : events.logs) EXPECT_EQ(line.find("al ice"), std::string::npos) << line;
    EXPECT_FALSE(capture->contains("al ice"));
    EXPECT_FALSE(capture->contains("ss word"));
    EXPECT_TRUE(events.onMainThread);
    log::setSink(nullptr);
}

TEST_F(OpenVPNConnectorTest, LineBreakInCredentialsIsRefusedAndOpenVPNStopped) {
    connector->setUsername("alice");
    connector->setPassword("x\nsignal SIGHUP");
    attach();
    server.sendLine(">PASSWORD:Need 'Auth' username/password");
    EXPECT_EQ(server.readLine(), "signal SIGTERM");
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.has("error 0"); }));
}

TEST_F(OpenVPNConnectorTest, VerificationFailureThenExitReportsOneDisconnect) {
    attach();
    server.sendLine(">PASSWORD:Verification Failed: 'Auth'");
    server.sendLine(">STATE:1796579336,EXITING,auth-failure,,,,,");
    server.closeClient();
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.has("disconnected"); }));
    connector->disconnect();  // joins the reader, whose end must not repeat it
    queue.runUntilIdle();
    EXPECT_EQ(events.events, (std::vector<std::string>{"error 0", "state EXITING", "disconnected"}));
    EXPECT_EQ(connector->getConnectionStatus(), 0);
}

TEST_F(OpenVPNConnectorTest, StateChangesSetStatusAndEchoesCountOnce) {
    attach();
    EXPECT_EQ(connector->getConnectionStatus(), 1);
    server.sendLine(">LOG:1,,PUSH: Received control message: 'PUSH_REPLY,route-gateway 10.89.0.1,topology subnet'");
    server.sendLine(">LOG:1,,MANAGEMENT: >STATE:1,CONNECTED,SUCCESS,10.89.0.2,10.88.0.1,1194,,");
    server.sendLine(">STATE:1,CONNECTED,SUCCESS,10.89.0.2,10.88.0.1,1194,,");
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.has("connected"); }));
    EXPECT_EQ(connector->getConnectionStatus(), 2);

    server.sendLine(">STATE:2,RECONNECTING,ping-restart,,,,,");
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.has("reconnected"); }));
    EXPECT_EQ(connector->getConnectionStatus(), 3);
    server.sendLine(">STATE:3,CONNECTED,SUCCESS,10.89.0.2,10.88.0.1,1194,,");
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.count("connected") == 2; }));
    EXPECT_EQ(connector->getConnectionStatus(), 2);
    EXPECT_EQ(events.events,
              (std::vector<std::string>{"gateway 10.89.0.1", "state CONNECTED", "connected", "state RECONNECTING",
                                        "reconnected", "state CONNECTED", "connected"}));

    // The fake never answers the signal: the connector leaves at once.
    connector->disconnect();
    EXPECT_EQ(server.readLine(), "signal SIGTERM");
    EXPECT_TRUE(server.clientClosed());
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.has("disconnected"); }));
    EXPECT_EQ(events.count("disconnected"), 1);
    EXPECT_EQ(connector->getConnectionStatus(), 0);
}

TEST_F(OpenVPNConnectorTest, FatalLinesAndUnreachableServer) {
    attach();
    server.sendLine(">FATAL:ERROR: Cannot open TUN/TAP dev /dev/net/tun: No such device (errno=19)");
    server.sendLine(">FATAL:Cannot load CA certificate file ca.crt");
    server.sendLine(">FATAL:Exiting due to something else");
    server.sendLine(">LOG:1,W,write UDPv4 []: Cannot assign requested address (fd=3,code=99)");
    server.send(std::string(20000, 'x').append("\r\n"));  // longer than any line we keep
    server.sendLine(">STATE:1,CONNECTED,SUCCESS,,,,,");
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.has("connected"); }));
    EXPECT_EQ(events.events, (std::vector<std::string>{"error 2", "error 3", "error 4", "notReachable",
                                                       "state CONNECTED", "connected"}));
    EXPECT_EQ(events.logs[4].size(), 10000u);
}

TEST_F(OpenVPNConnectorTest, WithoutAHandedOverInterfaceItFailsAtOnceAndDialsNothing) {
    connector->setUsername("alice");
    connector->setPassword("secret");
    connector->connect();
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.has("error 1"); }));
    connector->disconnect();
    queue.runUntilIdle();
    EXPECT_EQ(events.events, std::vector<std::string>{"error 1"});
    EXPECT_EQ(connector->getConnectionStatus(), 0);
}

TEST_F(OpenVPNConnectorTest, TheDialWaitsForOpenVPNsAnswerHoweverLateAndTheSessionStillReadsIt) {
    std::vector<std::string> answers;
    auto record = [&answers](std::string who) {
        return [&answers, who](bool ok) { answers.push_back(who + (ok ? " answered" : " not answered")); };
    };
    connector->setManagementSocket(server.handOver());
    connector->whenAnswered(std::chrono::seconds(30), record("first"));
    // The next try's wait drops this one unanswered.
    connector->whenAnswered(std::chrono::seconds(30), record("second"));
    EXPECT_FALSE(pumpUntil(queue, [&] { return !answers.empty(); }, std::chrono::milliseconds(100)))
        << "openvpn has not answered yet";
    server.sendLine(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info");
    ASSERT_TRUE(pumpUntil(queue, [&] { return !answers.empty(); }));
    EXPECT_EQ(answers, std::vector<std::string>{"second answered"});
    // The greeting was only looked at: the session reads it first.
    connector->connect();
    ASSERT_TRUE(pumpUntil(queue, [&] { return !events.logs.empty(); }));
    EXPECT_EQ(events.logs[0].rfind(">INFO:OpenVPN Management Interface", 0), 0u) << events.logs[0];
}

TEST_F(OpenVPNConnectorTest, AnOpenVPNThatEndsOrNeverAnswersIsSaidSoWithinItsBound) {
    struct Row {
        const char* name;
        bool handOver;
        bool closes;
        std::chrono::milliseconds bound;
    };
    const Row rows[] = {
        {"nothing handed over", false, false, std::chrono::seconds(30)},
        {"openvpn ended before it answered", true, true, std::chrono::seconds(30)},
        {"openvpn silent past the bound", true, false, std::chrono::milliseconds(50)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeManagementServer fake;
        if (row.handOver) connector->setManagementSocket(fake.handOver());
        if (row.closes) fake.closeClient();
        std::optional<bool> answered;
        connector->whenAnswered(row.bound, [&answered](bool ok) { answered = ok; });
        ASSERT_TRUE(pumpUntil(queue, [&] { return answered.has_value(); }));
        EXPECT_FALSE(*answered);
    }
}

TEST_F(OpenVPNConnectorTest, OldSessionEndingDoesNotTouchTheNewOne) {
    attach();
    FakeManagementServer second;
    connector->setManagementSocket(second.handOver());
    connector->connect();  // replaces the first session
    EXPECT_EQ(second.readLine(), "state on all");
    EXPECT_TRUE(server.clientClosed());
    second.sendLine(">STATE:1,CONNECTED,SUCCESS,,,,,");
    ASSERT_TRUE(pumpUntil(queue, [&] { return events.has("connected"); }));
    EXPECT_FALSE(events.has("disconnected"));
    EXPECT_EQ(connector->getConnectionStatus(), 2);
}

TEST_F(OpenVPNConnectorTest, TakingOverARunningOpenVPNKeepsItOnlyWhenConnected) {
    struct Row {
        const char* name;
        const char* answer;  // openvpn's answer to "state"
        bool kept;
    };
    for (const Row& row : {Row{"connected", "1796579336,CONNECTED,SUCCESS,10.67.0.2,10.88.0.1,1194,,", true},
                           Row{"route error", "1796579336,CONNECTED,ERROR,10.67.0.2,10.88.0.1,1194,,", false},
                           Row{"reconnecting", "1796579336,RECONNECTING,ping-restart,,,,,", false},
                           Row{"waiting", "1796579336,WAIT,,,,,,", false}}) {
        SCOPED_TRACE(row.name);
        FakeManagementServer running;
        RecordingEvents seen;
        OpenVPNConnector taker(queue);
        taker.setEventDelegate(&seen);
        taker.setManagementSocket(running.handOver());
        taker.adopt();
        EXPECT_EQ(running.readLine(), "state");
        EXPECT_EQ(running.readLine(), "state on");
        EXPECT_EQ(running.readLine(), "log on");
        running.sendLine(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info");
        running.sendLine(row.answer);
        running.sendLine("END");
        if (row.kept) {
            ASSERT_TRUE(pumpUntil(queue, [&] { return seen.has("connected"); }));
            EXPECT_EQ(taker.getConnectionStatus(), 2);
            // Later states are followed as in any session.
            running.sendLine(">STATE:2,RECONNECTING,ping-restart,,,,,");
            ASSERT_TRUE(pumpUntil(queue, [&] { return seen.has("reconnected"); }));
        } else {
            EXPECT_EQ(running.readLine(), "signal SIGTERM");
            running.closeClient();
            ASSERT_TRUE(pumpUntil(queue, [&] { return seen.has("disconnected"); }));
            EXPECT_FALSE(seen.has("connected"));
        }
        taker.setEventDelegate(nullptr);
    }
}

}  // namespace
}  // namespace hw
