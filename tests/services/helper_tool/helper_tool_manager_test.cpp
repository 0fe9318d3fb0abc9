#include "services/helper_tool/helper_tool_manager.h"

#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/capture_log.h"
#include "support/fake_helper_install.h"
#include "support/fake_helper_tool.h"
#include "support/fake_process_runner.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

class HelperClient : public ::testing::Test {
protected:
    std::vector<std::string> waitReplies(std::size_t n) {
        EXPECT_TRUE(queue_.waitFor([&] { return replies_.size() >= n; }));
        return replies_;
    }
    HelperToolManager::StringBlock collect() {
        return [this](const std::string& r) { replies_.push_back(r); };
    }
    static const HelperDictionary* params(const HelperMessage& m) { return helperDictionary(m, "parameters"); }

    std::shared_ptr<test::CaptureLog> log_ = test::CaptureLog::install();
    test::HelperTestQueue queue_;
    test::FakeHelperTool tool_{queue_};
    std::int64_t nowMs_ = 0;
    HelperTool_XPC_Connector connector_{queue_, tool_.factory(queue_), [this] { return nowMs_; }};
    test::FakeHelperJobTable jobs_;
    test::FakeHelperInstaller installer_{queue_};
    test::FakeProcessRunner runner_;
    HelperToolManager manager_{queue_, connector_, jobs_, installer_, runner_, "1.0.0"};
    std::vector<std::string> replies_;
};

TEST_F(HelperClient, ConnectToVPNCarriesTheServiceAndNeverLogsSecrets) {
    HelperVPNServiceDescription config;
    config.type = 2;
    config.endpointIPAddress = "203.0.113.5";
    config.password = "s3cret-pw";  // the shared secret is absent: left out, the rest still sent
    std::vector<bool> created;
    manager_.createVPNConnection(config, [&](bool ok) { created.push_back(ok); });
    ASSERT_TRUE(queue_.waitFor([&] { return created.size() == 1; }));
    EXPECT_EQ(created, std::vector<bool>{true});
    auto m = tool_.messages().at(0);
    EXPECT_TRUE(helperChannel(m, "channel"));
    ASSERT_TRUE(params(m));
    EXPECT_EQ(*helperString(*params(m), "password"), "s3cret-pw");
    EXPECT_EQ(params(m)->count("sharedSecret"), 0u);
    EXPECT_FALSE(log_->contains("s3cret-pw"));
}

TEST_F(HelperClient, AFailedCreationIsReportedAsFailed) {
    tool_.responder = [](const HelperMessage&) -> std::optional<HelperMessage> { return HelperMessage{{"reply", "NO"}}; };
    std::vector<bool> created;
    HelperVPNServiceDescription openvpn;
    openvpn.type = 1;
    openvpn.openVPNParameters = {{"openvpncmd", std::string("openvpn --config x")},
                                 {"path_tun", std::string("/dev/net/tun")},
                                 {"big", std::int64_t{0x180000001}}};
    manager_.createVPNConnection(openvpn, [&](bool ok) { created.push_back(ok); });
    ASSERT_TRUE(queue_.waitFor([&] { return created.size() == 1; }));
    tool_.refuseConnections = true;  // also without a helper at all
    connector_.close();
    manager_.createOpenVPNConnection({}, [&](bool ok) { created.push_back(ok); });
    ASSERT_TRUE(queue_.waitFor([&] { return created.size() == 2; }));
    EXPECT_EQ(created, (std::vector<bool>{false, false}));
    auto m = tool_.messages().at(0);
    // A number past 32 bits goes as its low 32 bits, sign-extended.
    EXPECT_EQ(helperInt(*params(m), "big"), -2147483647);
    EXPECT_EQ(*helperString(*params(m), "openvpncmd"), "openvpn --config x");
}

TEST_F(HelperClient, OpenVPNIsCreatedOnlyWithItsManagementInterfaceHandedOver) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd openvpnSide(pair[1]);
    auto handed = std::make_shared<UniqueFd>(pair[0]);
    int n = 0;
    tool_.responder = [&](const HelperMessage&) -> std::optional<HelperMessage> {
        if (n++ == 0) return HelperMessage{{"reply", "YES"}, {"management", HelperValue(handed)}};
        return HelperMessage{{"reply", "YES"}};  // success, but nothing to talk to
    };
    std::vector<std::string> order;
    UniqueFd received;
    manager_.setOpenVPNManagementReceiver([&](UniqueFd fd) {
        order.push_back("interface");
        received = std::move(fd);
    });
    auto done = [&](bool ok) { order.push_back(ok ? "created" : "failed"); };
    manager_.createOpenVPNConnection({}, done);
    manager_.createOpenVPNConnection({}, done);
    ASSERT_TRUE(queue_.waitFor([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string>{"interface", "created", "failed"}));
    // What arrived is the far end of the helper's connection.
    ASSERT_EQ(::write(received.get(), "x", 1), 1);
    char c = 0;
    EXPECT_EQ(::read(openvpnSide.get(), &c, 1), 1);
}

TEST_F(HelperClient, RepliesWithoutAReplyStringBecomeNo) {
    int n = 0;
    tool_.responder = [&n](const HelperMessage&) -> std::optional<HelperMessage> {
        switch (n++) {
        case 0: return HelperMessage{{"other", "x"}};
        case 1: return HelperMessage{{"reply", ""}};
        case 2: return HelperMessage{{"reply", 7}};
        default: return std::nullopt;  // dropped without an answer
        }
    };
    for (int i = 0; i < 4; ++i) manager_.retrieveDefaultGateway(collect());
    EXPECT_EQ(waitReplies(4), (std::vector<std::string>{"NO", "", "NO", "NO"}));
}

// A helper that counts says how many openvpns ended, and an older one may
// have ended one; a refusal, or no helper reached, ended none (a start
// before the helper is installed once made every request again).
TEST_F(HelperClient, EndingLeftoverOpenVPNsSaysWhetherOneEnded) {
    const std::vector<HelperMessage> answers = {{{"reply", "YES"}, {"terminated", 0}},
                                                {{"reply", "YES"}, {"terminated", 2}},
                                                {{"reply", "YES"}},
                                                {{"reply", "NO"}}};
    std::size_t n = 0;
    tool_.responder = [&](const HelperMessage&) { return std::optional<HelperMessage>(answers.at(n++)); };
    std::vector<bool> ended;
    for (std::size_t i = 0; i <= answers.size(); ++i) {
        if (i == answers.size()) {
            tool_.refuseConnections = true;
            connector_.close();
        }
        manager_.terminatePreviousOpenVPNProcesses([&ended](bool e) { ended.push_back(e); });
        ASSERT_TRUE(queue_.waitFor([&] { return ended.size() == i + 1; }));
    }
    EXPECT_EQ(ended, (std::vector<bool>{false, true, true, false, false}));
}

// A helper that is gone costs one log line per try, however many commands
// meet it (a storm of them once filled the log).
TEST_F(HelperClient, WithoutAConnectionEveryCompletionGetsNoAtOnce) {
    tool_.refuseConnections = true;
    manager_.enableNetworkLock(collect());
    manager_.staticRouteAddingProcessing("203.0.113.5", "192.168.1.1", collect());
    manager_.retrieveDefaultGateway(collect());
    queue_.inner.runUntilIdle();
    EXPECT_EQ(replies_, (std::vector<std::string>{"NO", "NO", "NO"}));
    EXPECT_EQ(connector_.getError(), "creating XPC mach service failed");
    EXPECT_EQ(log_->countAtLeast(LogLevel::Warning), 1u);
    EXPECT_TRUE(log_->contains("next try in 1000 ms"));
    EXPECT_FALSE(log_->contains("no connection"));
    // The next command after the back-off asks again and finds the helper back.
    nowMs_ = HelperTool_XPC_Connector::kFirstBackoffMs;
    tool_.refuseConnections = false;
    tool_.responder = [](const HelperMessage&) -> std::optional<HelperMessage> { return HelperMessage{{"reply", "192.168.1.1"}}; };
    manager_.retrieveDefaultGateway(collect());
    EXPECT_EQ(waitReplies(4).back(), "192.168.1.1");
}

// At the process's end a call still waiting is answered while the queue
// lives, and nothing later opens a connection again.
TEST_F(HelperClient, AtShutDownAWaitingCallIsAnsweredAndNoConnectionIsMadeAgain) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    tool_.responder = [&](const HelperMessage&) -> std::optional<HelperMessage> {
        queue_.notify();  // the request is in: the test goes on while this one waits
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
        return std::nullopt;
    };
    manager_.retrieveDefaultGateway(collect());
    ASSERT_TRUE(tool_.waitForMessages(1));
    connector_.shutDown();
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    EXPECT_EQ(waitReplies(1), std::vector<std::string>{"NO"});
    const int made = tool_.connectionsMade;
    manager_.retrieveDefaultGateway(collect());
    EXPECT_EQ(waitReplies(2).back(), "NO");
    EXPECT_EQ(tool_.connectionsMade, made);
}

TEST_F(HelperClient, EachCallKeepsItsOwnParametersAndCompletion) {
    tool_.responder = [](const HelperMessage& m) -> std::optional<HelperMessage> {
        return HelperMessage{{"reply", *helperString(*helperDictionary(m, "parameters"), "vpnServerAddress")}};
    };
    std::string first, second;
    manager_.staticRouteAddingProcessing("203.0.113.5", "192.168.1.1", [&](const std::string& r) { first = r; });
    manager_.staticRouteAddingProcessing("198.51.100.7", "192.168.1.1", [&](const std::string& r) { second = r; });
    ASSERT_TRUE(queue_.waitFor([&] { return !first.empty() && !second.empty(); }));
    EXPECT_EQ(first, "203.0.113.5");
    EXPECT_EQ(second, "198.51.100.7");
}

TEST_F(HelperClient, ImmediateCommandsGoAtOnceTheOthersOnALaterTurn) {
    manager_.enableNetworkLock(collect());
    manager_.disableIPV6();
    manager_.restore_DNS_to_original(true, false);
    manager_.disableNetworkLock(std::nullopt);  // absent: sent without parameters
    manager_.staticRouteAddingProcessing(std::nullopt, "192.168.1.1", collect());  // the list ends at the first absent
    ASSERT_TRUE(tool_.waitForMessages(5));
    std::vector<std::string> order;
    for (const auto& m : tool_.messages()) order.push_back(*helperString(m, "rpc"));
    EXPECT_EQ(order, (std::vector<std::string>{"disableIPV6", "restore_DNS_to_original", "disableNetworkLock",
                                               "enableNetworkLock", "staticRouteAddingProcessing"}));
    auto msgs = tool_.messages();
    EXPECT_EQ(helperInt(*params(msgs[1]), "forOpenVPN"), 1);
    EXPECT_EQ(helperInt(*params(msgs[1]), "skipFallback"), 0);
    EXPECT_EQ(params(msgs[2]), nullptr);
    EXPECT_EQ(params(msgs[4]), nullptr);
}

TEST_F(HelperClient, ABrokenConnectionAnswersNoAndIsMadeAgain) {
    tool_.responder = [](const HelperMessage&) -> std::optional<HelperMessage> { return std::nullopt; };
    manager_.enableNetworkLock(collect());
    ASSERT_TRUE(tool_.waitForMessages(1));
    auto old = connector_.getConnection();
    tool_.restart();
    EXPECT_EQ(waitReplies(1), std::vector<std::string>{"NO"});
    ASSERT_TRUE(queue_.waitFor([&] { return !old->isConnected(); }));
    tool_.responder = [](const HelperMessage&) -> std::optional<HelperMessage> { return HelperMessage{{"reply", "YES"}}; };
    manager_.retrieveDefaultGateway(collect());
    EXPECT_EQ(waitReplies(2).back(), "YES");
    EXPECT_EQ(tool_.connectionsMade, 2);
}

// A helper that answered and then cannot be reached died: the window is told
// once, not per call, and told again when it answers. One never reached (not
// started yet) is no death.
TEST_F(HelperClient, AHelperThatDiesIsReportedOnceAndAgainWhenItAnswers) {
    std::vector<bool> heard;
    manager_.setHelperDiedObserver([&](bool died) { heard.push_back(died); });
    auto call = [&](std::size_t n) {
        manager_.retrieveDefaultGateway(collect());
        waitReplies(n);
        queue_.inner.runUntilIdle();
    };
    tool_.refuseConnections = true;
    call(1);
    EXPECT_TRUE(heard.empty()) << "never reached";
    tool_.refuseConnections = false;
    nowMs_ += HelperTool_XPC_Connector::kLongestBackoffMs;
    call(2);
    EXPECT_TRUE(heard.empty());
    EXPECT_FALSE(manager_.helperDied());

    tool_.refuseConnections = true;
    tool_.restart();
    call(3);
    nowMs_ += HelperTool_XPC_Connector::kLongestBackoffMs;
    call(4);
    EXPECT_EQ(heard, std::vector<bool>{true});
    EXPECT_TRUE(manager_.helperDied());

    tool_.refuseConnections = false;
    nowMs_ += HelperTool_XPC_Connector::kLongestBackoffMs;
    call(5);
    EXPECT_EQ(heard, (std::vector<bool>{true, false}));
    EXPECT_FALSE(manager_.helperDied());
}

class HelperInstallCheck : public HelperClient {
protected:
    HelperInstallCheck() {
        test::TempDir::write(binary_, "#!/bin/sh\n");
        jobs_.jobs["com.havenway.HelperTool"] = binary_;
        runner_.responder = [this](const ProcessRequest& r) {
            EXPECT_EQ(r.argv, (std::vector<std::string>{binary_, "--version"}));
            return test::FakeProcessRunner::exited(0, installed_ + "\n");
        };
    }
    // Another version is another file, as an install or an update leaves it.
    void install(const std::string& version) {
        installed_ = version;
        test::TempDir::write(binary_ + ".new", "#!/bin/sh\n# " + version + "\n");
        std::filesystem::rename(binary_ + ".new", binary_);
    }
    test::TempDir dir_;
    std::string binary_ = dir_.file("havenway-helper");
    std::string installed_ = "1.0.0";
};

TEST_F(HelperInstallCheck, VersionRulesDecideWhetherToInstall) {
    EXPECT_TRUE(manager_.isHeloperToolAlreadyInstalled("", false));
    install("0.9.0");
    EXPECT_FALSE(manager_.isHeloperToolAlreadyInstalled("1.0.0", false));
    EXPECT_TRUE(manager_.isHeloperToolAlreadyInstalled("1.0.0", true));
    EXPECT_FALSE(manager_.isHeloperToolAlreadyInstalled("0.9.0", true));
    std::filesystem::remove(binary_);
    EXPECT_FALSE(manager_.isHeloperToolAlreadyInstalled("1.0.0", true));  // the file is gone
    jobs_.jobs.clear();
    EXPECT_FALSE(manager_.isHeloperToolAlreadyInstalled("1.0.0", true));  // no job at all
}

TEST_F(HelperInstallCheck, TheVersionIsAskedOncePerHelperFileAndAgainWhenItFailed) {
    for (int connect = 0; connect < 3; ++connect) EXPECT_TRUE(manager_.isHeloperToolAlreadyInstalled("", false));
    EXPECT_EQ(runner_.requests.size(), 1u);
    install("1.1.0");
    EXPECT_FALSE(manager_.isHeloperToolAlreadyInstalled("", false));
    EXPECT_EQ(runner_.requests.size(), 2u);
    runner_.responder = [](const ProcessRequest&) { return test::FakeProcessRunner::exited(1); };
    install("1.0.0");
    EXPECT_FALSE(manager_.isHeloperToolAlreadyInstalled("", false));
    EXPECT_FALSE(manager_.isHeloperToolAlreadyInstalled("", false));
    EXPECT_EQ(runner_.requests.size(), 4u) << "a helper that did not answer is asked again";
}

TEST_F(HelperInstallCheck, TheVersionLearntAtStartSparesTheConnectAskingIt) {
    test::ManualQueue background;
    manager_.learnInstalledVersion(background);
    background.runUntilIdle();
    queue_.inner.runUntilIdle();
    EXPECT_TRUE(manager_.isHeloperToolAlreadyInstalled("", false));
    EXPECT_EQ(runner_.requests.size(), 1u);
    install("1.1.0");
    EXPECT_FALSE(manager_.isHeloperToolAlreadyInstalled("", false)) << "another file is asked again";
    EXPECT_EQ(runner_.requests.size(), 2u);
}

TEST_F(HelperInstallCheck, InstallOutcomesReachTheCompletion) {
    std::vector<std::string> got;
    auto record = [&](bool ok, bool refused, int code, const std::string& v) {
        got.push_back(std::to_string(ok) + std::to_string(refused) + " " + std::to_string(code) + " " + v);
    };
    manager_.installAction(record);
    installer_.next = {false, true, 0};
    manager_.installAction(record);
    installer_.next = {false, false, 127};
    manager_.installAction(record);
    queue_.inner.runUntilIdle();
    EXPECT_EQ(got, (std::vector<std::string>{"10 0 1.0.0", "01 0 ", "00 127 "}));
}

TEST(PkexecHelperInstaller, RunsTheInstallerAndReadsPkexecsAnswer) {
    test::ManualQueue queue;
    test::FakeProcessRunner runner;
    runner.scripted = {test::FakeProcessRunner::exited(126)};
    PkexecHelperInstaller installer(runner, queue, queue, "/opt/havenway/havenway-helper", "alice");
    std::optional<HelperInstallResult> result;
    installer.install([&](HelperInstallResult r) { result = r; });
    queue.runUntilIdle();
    EXPECT_TRUE(result && result->refused);
    EXPECT_EQ(runner.argvs().at(0),
              (std::vector<std::string>{"pkexec", "/opt/havenway/havenway-helper", "--install", "alice"}));
    ProcessResult notStarted;
    EXPECT_EQ(PkexecHelperInstaller::interpret(notStarted).errorCode, -1);
    EXPECT_TRUE(PkexecHelperInstaller::interpret(test::FakeProcessRunner::exited(0)).succeeded);
    EXPECT_EQ(PkexecHelperInstaller::interpret(test::FakeProcessRunner::exited(127)).errorCode, 127);
}

TEST(SystemdHelperJobTable, FindsTheProgramOfTheUnit) {
    test::TempDir dir;
    test::TempDir::write(dir.file("com.havenway.HelperTool.service"),
        "[Unit]\nDescription=x\nExecStart=/not/this\n\n[Service]\nExecStart=-/usr/libexec/havenway/havenway-helper --flag\n");
    SystemdHelperJobTable table({dir.file("missing"), dir.path()});
    EXPECT_EQ(table.programPath("com.havenway.HelperTool"), "/usr/libexec/havenway/havenway-helper");
    EXPECT_EQ(table.programPath("other"), std::nullopt);
    EXPECT_EQ(SystemdHelperJobTable::execStartProgram("[Service]\nExecStart=relative/path\n"), std::nullopt);
}

}  // namespace
}  // namespace hw
