#include "helper/helper_daemon.h"
#include "helper/helper_files.h"
#include "helper/helper_installer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "fake_system.h"
#include "platform/helper_connection.h"
#include "platform/helper_socket.h"
#include "support/capture_log.h"
#include "support/fake_helper_tool.h"

namespace hw::helper {
namespace {

TEST(InstalledUser, ReadsUidOrNameAndIgnoresJunk) {
    test::ScratchDir dir;
    EXPECT_EQ(readInstalledUser(dir / "helper.conf"), std::nullopt);
    for (auto [text, uid] : {std::pair<const char*, std::optional<uid_t>>{"# by the installer\nuser=root\n", 0},
                             {"uid=1000\n", 1000},
                             {"uid=-1\nuid=1000x\nuser=../etc\nuser=no-such-user-here\n", std::nullopt}}) {
        std::ofstream(dir / "helper.conf") << text;
        EXPECT_EQ(readInstalledUser(dir / "helper.conf"), uid) << text;
    }
}

TEST(CommandDispatcher, UnknownMalformedAndFailingCommandsAnswerNo) {
    auto log = hw::test::CaptureLog::install();
    CommandDispatcher d;
    d.registerCommand("boom", [](HelperCommand&) -> std::optional<HelperMessage> { throw std::runtime_error("x"); });
    // The tunnel commands belong to other services; until they register, "NO".
    EXPECT_EQ(test::rpc(d, "connectToVPN"), "NO");
    EXPECT_EQ(test::rpc(d, "createOpenVPNConnection"), "NO");
    EXPECT_EQ(test::rpc(d, "boom"), "NO");
    auto noType = test::call(d, {{"rpc", "x"}});
    ASSERT_TRUE(noType);
    EXPECT_EQ(*helperString(*noType, "reply"), "NO");
    EXPECT_GE(log->countAtLeast(LogLevel::Warning), 1u);
}

TEST(CommandDispatcher, CommandsAreKeyedByTypeAndName) {
    CommandDispatcher d;
    d.registerCommand("rpc", "start_connection", [](HelperCommand& c) -> std::optional<HelperMessage> {
        return HelperMessage{{"reply", "started " + c.type}};
    });
    d.registerCommand("withParams", [](HelperCommand& c) -> std::optional<HelperMessage> {
        return replyWith(*helperString(c.parameters, "a"));
    });
    auto r = test::call(d, {{"type", "rpc"}, {"rpc", "start_connection"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(*helperString(*r, "reply"), "started rpc");
    EXPECT_EQ(test::rpc(d, "start_connection"), "NO");  // not a helper_tool_rpc command
    EXPECT_EQ(test::rpc(d, "withParams", {{"a", "b"}}), "b");
}

// The daemon end to end on a socket file, with a fake kernel.
class HelperDaemonTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(dir / "helper.conf") << "uid=" << ::getuid() << "\n";
        ASSERT_TRUE(daemon.start(&error)) << error;
        serving = std::thread([&] { daemon.run(); });
    }
    void TearDown() override {
        daemon.stop();
        if (serving.joinable()) serving.join();
    }
    UniqueFd connect() { return connectToHelper(dir / "helper.sock", &error); }
    // Asks on a connection of its own: served only after every peer the
    // helper accepted before it.
    std::string askLockState() {
        UniqueFd client = connect();
        auto [mine, theirs] = makeHelperSocketPair();
        if (!client || !sendHelperMessage(client.get(), test::rpcMessage("networkLockState", {}), theirs.get(), 5000, &error))
            return "not sent: " + error;
        theirs.reset();
        auto reply = receiveHelperMessage(mine.get(), 5000, &error);
        return reply ? test::replyText(reply->message) : "no reply: " + error;
    }

    test::ScratchDir dir;
    test::FakeNetwork net;
    hw::test::FakeProcessRunner runner;
    HelperDaemon daemon{runner, net, test::scratchPaths(dir)};
    std::string error;
    std::thread serving;
};

TEST_F(HelperDaemonTest, ServesCommandsInOrderOnItsSocket) {
    EXPECT_EQ(dir.mode(dir / "helper.sock"), 0660u);

    hw::test::HelperTestQueue queue;
    HelperConnection client(queue);
    ASSERT_TRUE(client.connect(dir / "helper.sock", &error)) << error;
    std::vector<std::string> replies;
    for (auto name : {"enableNetworkLock", "retrieveDefaultGateway", "connectToVPN", "disableNetworkLock"})
        client.send({{"type", "helper_tool_rpc"}, {"rpc", name}}, [&](HelperReply r) {
            auto s = helperString(r.message, "reply");
            replies.push_back(s ? *s : r.error);
        });
    queue.waitFor([&] { return replies.size() == 4; });
    EXPECT_EQ(replies, (std::vector<std::string>{"192.168.1.1", "192.168.1.1", "NO", "YES"}));
    client.cancel();
}

// Nobody keeps the app out by holding connections: past the bound, the one
// heard from longest ago goes.
TEST_F(HelperDaemonTest, IdleConnectionsMakeRoomForANewClient) {
    std::vector<UniqueFd> idle;
    for (int i = 0; i < 100; ++i) {
        idle.push_back(connect());
        ASSERT_TRUE(idle.back()) << error;
    }
    EXPECT_EQ(askLockState(), "NO");
    // Accepted in order, so every one before the client was taken and judged.
    const auto stillHeld = std::count_if(idle.begin(), idle.end(), [](const UniqueFd& fd) {
        pollfd p{fd.get(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    });
    EXPECT_EQ(static_cast<std::size_t>(stillHeld), kMaxConnectionsPerProcess - 1);

}

// Peers that start messages carrying descriptors and never finish them cannot
// make the helper hold more than its bound: what a dropped one sent is
// closed, and the helper still locks its state and answers.
TEST_F(HelperDaemonTest, DescriptorsInUnfinishedMessagesStayWithinTheBound) {
    // Each sends the write end of its own pipe 16 times: the pipe reads its
    // end only once the helper holds none of them.
    constexpr int kPerMessage = 16;
    struct Sender {
        UniqueFd socket, readEnd;
    };
    std::vector<Sender> senders;
    for (std::size_t i = 0; i < kMaxConnectionsPerProcess; ++i) {
        int p[2];
        ASSERT_EQ(::pipe2(p, O_CLOEXEC | O_NONBLOCK), 0);
        UniqueFd writeEnd(p[1]);
        Sender s{connect(), UniqueFd(p[0])};
        ASSERT_TRUE(s.socket) << error;
        char packet[] = {'M', 'x'};  // the first of more packets
        iovec iov{packet, sizeof packet};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kPerMessage)] = {};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * kPerMessage);
        for (int k = 0; k < kPerMessage; ++k) std::memcpy(CMSG_DATA(c) + k * sizeof(int), &p[1], sizeof(int));
        ASSERT_EQ(::sendmsg(s.socket.get(), &msg, 0), static_cast<ssize_t>(sizeof packet));
        senders.push_back(std::move(s));
    }
    // Served after every sender before it was taken and read.
    EXPECT_EQ(askLockState(), "NO");

    std::size_t held = 0, closedOfDropped = 0, dropped = 0;
    for (auto& s : senders) {
        char byte;
        const bool stillSent = ::read(s.readEnd.get(), &byte, 1) < 0 && errno == EAGAIN;
        pollfd p{s.socket.get(), POLLIN, 0};
        const bool droppedByHelper = ::poll(&p, 1, 0) == 1;
        held += stillSent ? kPerMessage : 0;
        dropped += droppedByHelper;
        closedOfDropped += droppedByHelper && !stillSent;
    }
    EXPECT_LE(held, kDescriptorsInFlight);
    EXPECT_GT(held, 0u) << "the newest unfinished messages are kept";
    EXPECT_EQ(closedOfDropped, dropped);

}

TEST(HelperInstall, PutsBinaryUnitAndUserInPlaceThenStartsTheUnit) {
    test::ScratchDir dir;
    std::ofstream(dir / "self") << "binary bytes";
    std::ofstream(dir / "havenway-openvpn-event") << "event bytes";
    std::ofstream(dir / "havenway-openvpn-plugin.so") << "plugin bytes";
    hw::test::FakeProcessRunner runner;
    InstallLayout layout{dir.path()};
    EXPECT_EQ(installHelper("root", dir / "self", layout, runner), 0);
    EXPECT_EQ(readFile(layout.binary()), "binary bytes");
    EXPECT_EQ(readFile(layout.eventProgram()), "event bytes") << "openvpn's up command goes along";
    EXPECT_EQ(readFile(layout.eventPlugin()), "plugin bytes");
    EXPECT_EQ(readFile(layout.config()), "user=root\n");
    EXPECT_EQ(readInstalledUser(layout.config()), 0u);
    // The job table finds the installed helper through the unit's ExecStart.
    EXPECT_NE(readFile(layout.unit())->find("ExecStart=/usr/libexec/havenway/havenway-helper\n"), std::string::npos);
    EXPECT_NE(readFile(layout.unit())->find("\nLimitNOFILE=1024\n"), std::string::npos) << "what the helper's bounds need";
    EXPECT_EQ(runner.argvs(), (std::vector<std::vector<std::string>>{
                                  {"systemctl", "daemon-reload"},
                                  {"systemctl", "enable", "--now", "com.havenway.HelperTool.service"}}));

    for (auto bad : {"no-such-user-here", "root; reboot", "../root", ""})
        EXPECT_EQ(installHelper(bad, dir / "self", layout, runner), 2) << bad;
}

}  // namespace
}  // namespace hw::helper
