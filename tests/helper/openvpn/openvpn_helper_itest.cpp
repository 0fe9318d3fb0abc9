// The real helper beside the testbed's openvpn server: what it starts openvpn
// for, when it hands a running openvpn over, and what a local client can make
// it hold.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "connection/openvpn_management_line.h"
#include "helper/helper_daemon.h"
#include "helper/ppp/ppp_vpn_services.h"
#include "platform/helper_socket.h"
#include "support/openvpn_helper_suite.h"
#include "support/run_tool.h"

namespace hw::helper {
namespace {

using testbed::readText;
using testbed::waitFor;

HelperMessage rpcMessage(const std::string& rpc, HelperDictionary parameters) {
    HelperMessage m{{"type", "helper_tool_rpc"}, {"rpc", rpc}};
    if (!parameters.empty()) m["parameters"] = HelperValue(std::move(parameters));
    return m;
}

// One request and its reply on a connection that is already open.
std::string callOn(int fd, const std::string& rpc, HelperDictionary parameters = {}, HelperMessage* full = nullptr) {
    auto [mine, theirs] = makeHelperSocketPair();
    if (!sendHelperMessage(fd, rpcMessage(rpc, std::move(parameters)), theirs.get(), 5000, nullptr)) return "(not sent)";
    theirs.reset();
    auto envelope = receiveHelperMessage(mine.get(), 20000, nullptr);
    if (!envelope) return "(no reply)";
    const std::string* text = helperString(envelope->message, "reply");
    if (full) *full = envelope->message;
    return text ? *text : "(no reply string)";
}

class OpenVPNHelper : public test::OpenVPNHelperSuite {
protected:
    // On a connection of its own, as the app's short calls go.
    std::string call(const std::string& rpc, HelperDictionary parameters = {}, HelperMessage* full = nullptr) {
        UniqueFd fd = connectToHelper(socket_, nullptr);
        return fd ? callOn(fd.get(), rpc, std::move(parameters), full) : "(no connection)";
    }
    // The application's road: its file, then "createOpenVPNConnection".
    std::string create(const std::string& config, UniqueFd* management = nullptr) {
        const std::string folder = bed_->dir() + "/appdata";
        std::filesystem::create_directories(folder);
        const std::string path = folder + "/config_current.ovpn";
        ::unlink(path.c_str());
        std::ofstream(path) << config;
        ::chmod(path.c_str(), 0600);
        HelperMessage reply;
        const std::string text =
            call("createOpenVPNConnection",
                 {{"openvpncmd", "'/usr/sbin/openvpn' --config '" + path + "' --management 127.0.0.1 9544&"},
                  {"path_tun", "/dev/net/tun"}},
                 &reply);
        HelperChannel channel = helperChannel(reply, "management");
        if (management && channel) *management = UniqueFd(channel->release());
        return text;
    }
    // The openvpn processes the helper started (not the testbed's server).
    std::vector<pid_t> ourOpenVPNs() {
        std::vector<pid_t> found;
        for (const auto& e : std::filesystem::directory_iterator("/proc")) {
            const std::string name = e.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            if (readText(e.path() / "comm") != "openvpn\n") continue;
            if (readText(e.path() / "cmdline").find(bed_->dir() + "/run/openvpn-config/") != std::string::npos)
                found.push_back(std::stoi(name));
        }
        return found;
    }
    std::size_t helperFds() const {
        std::error_code ec;
        std::size_t n = 0;
        for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(helper_.pid()) + "/fd", ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
            ++n;
        return n;
    }
    // The helper's count once the connections of earlier calls are gone.
    std::size_t settledFds() const {
        std::size_t last = helperFds();
        waitFor(
            [&] {
                const std::size_t now = helperFds();
                const bool same = now == last;
                last = now;
                return same;
            },
            std::chrono::seconds(5));
        return last;
    }
    double helperCpuSeconds() const {
        const std::string stat = readText("/proc/" + std::to_string(helper_.pid()) + "/stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        // Fields 14 and 15: user and system time.
        for (int k = 3; k <= 15 && fields >> field; ++k)
            if (k >= 14) ticks += std::stod(field);
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    // The helper's CPU time over a second in which nothing is asked of it.
    double idleCpuOverASecond(int quietFd) {
        const double before = helperCpuSeconds();
        pollfd p{quietFd, POLLIN, 0};
        ::poll(&p, 1, 1000);
        return helperCpuSeconds() - before;
    }
};

// The report's configuration: a listener on port 25 with no cipher.
TEST_F(OpenVPNHelper, AServerConfigurationStartsNoOpenVPN) {
    EXPECT_EQ(create("dev tun0\nproto tcp-server\nlport 25\nifconfig 10.9.0.1 10.9.0.2\n"), "NO");
    EXPECT_EQ(create("client\nremote 10.88.0.1 1194\ndev tun0\nlport 25\nifconfig 10.9.0.1 10.9.0.2\n"), "NO");
    EXPECT_EQ(create("dev tun0\nremote 10.88.0.1 1194\nproto udp\n"), "NO");
    EXPECT_TRUE(ourOpenVPNs().empty());
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(25);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::connect(probe, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << "something listens on 25";
    ::close(probe);
    EXPECT_NE(readText(bed_->dir() + "/helper.log").find("openvpn runs only as a client"), std::string::npos);

    // The served configuration still starts it.
    UniqueFd management;
    ASSERT_EQ(create(bed_->clientConfig(), &management), "YES") << readText(bed_->dir() + "/helper.log");
    EXPECT_EQ(ourOpenVPNs().size(), 1u);
    EXPECT_EQ(call("terminatePreviousOpenVPNProcesses"), "YES");
}

// openvpn serves one client at a time: while the running app holds the
// interface, a take-over would wait unanswered in openvpn's queue.
TEST_F(OpenVPNHelper, TheTakeOverIsRefusedWhileTheRunningAppHoldsTheInterface) {
    UniqueFd held;
    ASSERT_EQ(create(bed_->clientConfig(), &held), "YES") << readText(bed_->dir() + "/helper.log");
    ASSERT_TRUE(held);
    EXPECT_EQ(call("attachRunningOpenVPN"), "NO");
    EXPECT_EQ(ourOpenVPNs().size(), 1u) << "the refusal ends nothing";

    held.reset();  // the app ends
    HelperMessage reply;
    ASSERT_EQ(call("attachRunningOpenVPN", {}, &reply), "YES") << readText(bed_->dir() + "/helper.log");
    HelperChannel management = helperChannel(reply, "management");
    ASSERT_TRUE(management && *management);
    pollfd p{management->get(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    char greeting[6] = {};
    EXPECT_EQ(::recv(management->get(), greeting, 5, 0), 5);
    EXPECT_STREQ(greeting, ">INFO") << "openvpn took the handed connection";
    EXPECT_EQ(call("terminatePreviousOpenVPNProcesses"), "YES");
}

// Another process of the installed user: 1,100 PPP watches (100 for a
// service that exists) and 1,024 idle connections, held until told.
struct Hoarder {
    pid_t pid = -1;
    int report = -1;   // its counts, then nothing
    int release = -1;  // closed by us: it exits

    Hoarder(const std::string& socket, const std::string& serviceID) {
        int out[2], hold[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(hold, O_CLOEXEC) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::close(out[0]);
            ::close(hold[1]);
            rlimit files{8192, 8192};
            ::setrlimit(RLIMIT_NOFILE, &files);
            std::vector<UniqueFd> kept;
            int watched = 0, connected = 0;
            UniqueFd first = connectToHelper(socket, nullptr);
            for (int i = 0; first && i < 1100; ++i) {
                char id[33];
                std::snprintf(id, sizeof id, "%032x", i);
                auto [mine, theirs] = makeHelperSocketPair();
                auto channel = std::make_shared<UniqueFd>(std::move(theirs));
                const std::string reply = callOn(first.get(), "watchVPNService",
                                                 {{"serviceID", i < 100 ? serviceID : std::string(id)},
                                                  {"channel", HelperValue(channel)}});
                watched += reply == "YES";
                kept.push_back(std::move(mine));
            }
            for (int i = 0; i < 1024; ++i) {
                UniqueFd fd = connectToHelper(socket, nullptr);
                connected += static_cast<bool>(fd);
                kept.push_back(std::move(fd));
            }
            const std::string counts = std::to_string(watched) + " " + std::to_string(connected) + "\n";
            (void)!::write(out[1], counts.data(), counts.size());
            char c;
            while (::read(hold[0], &c, 1) < 0 && errno == EINTR) {
            }
            ::_exit(0);
        }
        ::close(out[1]);
        ::close(hold[0]);
        report = out[0];
        release = hold[1];
    }
    std::string counts() {
        std::string text;
        char buffer[64];
        pollfd p{report, POLLIN, 0};
        while (text.find('\n') == std::string::npos && ::poll(&p, 1, 120000) == 1) {
            const ssize_t n = ::read(report, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    ~Hoarder() {
        if (release >= 0) ::close(release);
        if (pid > 0) ::waitpid(pid, nullptr, 0);
        if (report >= 0) ::close(report);
    }
};

TEST_F(OpenVPNHelper, NoClientCanMakeTheHelperHoldDescriptorsForGood) {
    // Once started, the helper keeps a watch on openvpn's folder for good.
    ASSERT_EQ(create(bed_->clientConfig()), "YES") << readText(bed_->dir() + "/helper.log");
    EXPECT_EQ(call("terminatePreviousOpenVPNProcesses"), "YES");
    ASSERT_EQ(call("connectToVPN", {{"type", std::int64_t{3}}, {"name", "Havenway"}, {"endpointIPAddress", "192.0.2.9"},
                                    {"username", "alice"}, {"password", "p4ss-word"}}),
              "YES");
    HelperMessage service;
    ASSERT_EQ(call("getVPNService", {{"connectionName", "Havenway"}}, &service), "YES");
    const std::string serviceID = *helperString(service, "serviceID");
    const std::size_t before = settledFds();

    {
        Hoarder hoarder(socket_, serviceID);
        ASSERT_GT(hoarder.pid, 0);
        // Only the watches of the service that exists are taken; every
        // connection is, the oldest idle ones making room.
        EXPECT_EQ(hoarder.counts(), "100 1024\n");
        const std::size_t held = helperFds();
        EXPECT_LE(held, before + kMaxConnections + ppp::kWatchesInAll);
        const double cpu = idleCpuOverASecond(hoarder.report);
        std::cout << "helper descriptors: " << before << " before, " << held << " while held; CPU " << cpu
                  << " s in 1 s\n";
        EXPECT_LT(cpu, 0.3) << "the helper spins";

        UniqueFd management;
        EXPECT_EQ(create(bed_->clientConfig(), &management), "YES") << readText(bed_->dir() + "/helper.log");
        EXPECT_TRUE(management);
        EXPECT_EQ(call("terminatePreviousOpenVPNProcesses"), "YES");
    }
    std::size_t now = 0;
    EXPECT_TRUE(waitFor([&] { return (now = helperFds()) <= before; }, std::chrono::seconds(10)))
        << now << " descriptors held, " << before << " before";
}

// Out of descriptors all the same (a lower limit than the unit's): the
// connection that cannot be taken waits, the helper does not spin on it,
// and it serves again once descriptors are free.
TEST_F(OpenVPNHelper, AHelperOutOfDescriptorsWaitsInsteadOfSpinning) {
    const std::size_t base = settledFds();
    helper_.stop();
    const std::string limit = std::to_string(base + 6);
    ::unlink(socket_.c_str());
    helper_ = testbed::ChildProcess({"prlimit", "--nofile=" + limit + ":" + limit, helperBinary_},
                                    bed_->dir() + "/helper.log", testbed::helperEnvironment(bed_->dir()));
    ASSERT_TRUE(waitFor([&] { return hw::test::helperSocketListens(socket_); }, std::chrono::seconds(5)));

    std::vector<UniqueFd> idle;
    for (int i = 0; i < 40; ++i) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        sockaddr_un to{};
        to.sun_family = AF_UNIX;
        std::memcpy(to.sun_path, socket_.c_str(), socket_.size());
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) break;  // the queue is full
        idle.push_back(std::move(fd));
    }
    ASSERT_TRUE(waitFor([&] { return helperFds() >= base + 6; }, std::chrono::seconds(10))) << helperFds();
    int quiet[2];
    ASSERT_EQ(::pipe2(quiet, O_CLOEXEC), 0);
    const double cpu = idleCpuOverASecond(quiet[0]);
    std::cout << "helper CPU at its descriptor limit: " << cpu << " s in 1 s\n";
    EXPECT_LT(cpu, 0.3) << "the helper spins";
    ::close(quiet[0]);
    ::close(quiet[1]);

    idle.clear();
    EXPECT_NE(call("networkLockState"), "(no connection)");
    EXPECT_NE(call("networkLockState"), "(no reply)");
}

// Reads the interface until a line holds the text (answering the password
// prompt on the way); false when it closes or the time runs out.
bool readUntil(int fd, const std::string& text, std::chrono::seconds bound) {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) != 1) continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        seen.append(buffer, static_cast<std::size_t>(n));
        if (seen.find(">PASSWORD:Need 'Auth'") != std::string::npos) {
            // The testbed's password holds quotes, a backslash and blanks.
            const std::string answer = "username \"Auth\" " + *quoteManagementArgument(testbed::OpenVPNTestbed::kUser) +
                                       "\npassword \"Auth\" " +
                                       *quoteManagementArgument(testbed::OpenVPNTestbed::kPassword) + "\n";
            if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size())) return false;
            seen.clear();
        }
        if (seen.find(text) != std::string::npos) return true;
    }
    return false;
}

// Connected, then the server falls silent: openvpn's own restart would look
// it up again through the dead tunnel, for good. It ends, for the app's
// tries to take over. Short ping timers stand in for the server's 60 s.
TEST_F(OpenVPNHelper, AServerThatFallsSilentEndsOpenVPNInsteadOfRestartingIt) {
    UniqueFd management;
    const std::string config = bed_->clientConfig() + "ping 1\nping-restart 3\npull-filter ignore ping\n";
    ASSERT_EQ(create(config, &management), "YES") << readText(bed_->dir() + "/helper.log");
    const char state[] = "state on\n";
    ASSERT_EQ(::send(management.get(), state, sizeof state - 1, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof state - 1));
    ASSERT_TRUE(readUntil(management.get(), "CONNECTED,SUCCESS", std::chrono::seconds(20)))
        << readText(bed_->dir() + "/helper.log");
    ASSERT_EQ(ourOpenVPNs().size(), 1u);

    const pid_t server = std::stoi(readText(bed_->dir() + "/pki/openvpn.pid"));
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    const bool ended = waitFor([&] { return ourOpenVPNs().empty(); }, std::chrono::seconds(20));
    ::kill(server, SIGCONT);
    EXPECT_TRUE(ended) << "openvpn restarted itself\n" << readText(bed_->dir() + "/helper.log");
}

// The helper dies under a running openvpn: a tunnel nobody can end any more
// would carry traffic while the app says it is not connected. Its service
// starts it again, and that helper serves.
TEST_F(OpenVPNHelper, AnOpenVPNEndsWithTheHelperThatStartedIt) {
    UniqueFd management;
    ASSERT_EQ(create(bed_->clientConfig(), &management), "YES") << readText(bed_->dir() + "/helper.log");
    ASSERT_EQ(ourOpenVPNs().size(), 1u);
    ::kill(helper_.pid(), SIGKILL);
    helper_.stop();
    EXPECT_TRUE(waitFor([&] { return ourOpenVPNs().empty(); }, std::chrono::seconds(10))) << "it outlived its helper";

    socket_ = testbed::startHelper(helperBinary_, bed_->dir(), helper_);
    ASSERT_FALSE(socket_.empty()) << readText(bed_->dir() + "/helper.log");
    EXPECT_EQ(create(bed_->clientConfig(), &management), "YES") << readText(bed_->dir() + "/helper.log");
    EXPECT_EQ(call("terminatePreviousOpenVPNProcesses"), "YES");
}

// The app's channel travels with every request; it closes with the app. An
// openvpn still connecting then ends (it would come up later for nobody);
// a connected one waits to be taken over, with the gateway its tunnel came
// up with, from which the restarted app puts the tunnel's route back.
TEST_F(OpenVPNHelper, TheAppsEndEndsAnOpenVPNStillConnectingAndLeavesAConnectedOne) {
    const std::string log = bed_->dir() + "/helper.log";
    auto createFor = [&](int channel, UniqueFd* management) {
        const std::string folder = bed_->dir() + "/appdata";
        std::filesystem::create_directories(folder);
        const std::string path = folder + "/config_current.ovpn";
        // A route to set, as a served configuration has: openvpn then names the gateway.
        std::ofstream(path, std::ios::trunc) << bed_->clientConfig() << "route 192.0.2.77 255.255.255.255\n";
        ::chmod(path.c_str(), 0600);
        UniqueFd fd = connectToHelper(socket_, nullptr);
        auto [mine, theirs] = makeHelperSocketPair();
        HelperMessage m = rpcMessage("createOpenVPNConnection",
                                     {{"openvpncmd", "'/usr/sbin/openvpn' --config '" + path + "'"},
                                      {"path_tun", "/dev/net/tun"}});
        m["channel"] = HelperValue(std::make_shared<UniqueFd>(::fcntl(channel, F_DUPFD_CLOEXEC, 3)));
        if (!fd || !sendHelperMessage(fd.get(), m, theirs.get(), 5000, nullptr)) return std::string("(not sent)");
        theirs.reset();
        auto envelope = receiveHelperMessage(mine.get(), 20000, nullptr);
        if (!envelope) return std::string("(no reply)");
        if (HelperChannel handed = helperChannel(envelope->message, "management")) *management = UniqueFd(handed->release());
        const std::string* text = helperString(envelope->message, "reply");
        return text ? *text : std::string("(no reply string)");
    };

    {
        SCOPED_TRACE("still connecting");
        const pid_t server = std::stoi(readText(bed_->dir() + "/pki/openvpn.pid"));
        auto [app, helperSide] = makeHelperSocketPair();
        UniqueFd management;
        ASSERT_EQ(::kill(server, SIGSTOP), 0);
        const std::string reply = createFor(helperSide.get(), &management);
        helperSide.reset();
        EXPECT_EQ(reply, "YES") << readText(log);
        EXPECT_EQ(ourOpenVPNs().size(), 1u);
        app.reset();
        management.reset();
        const bool ended = waitFor([&] { return ourOpenVPNs().empty(); }, std::chrono::seconds(10));
        ::kill(server, SIGCONT);
        EXPECT_TRUE(ended) << readText(log);
    }
    {
        SCOPED_TRACE("connected");
        auto [app, helperSide] = makeHelperSocketPair();
        UniqueFd management;
        ASSERT_EQ(createFor(helperSide.get(), &management), "YES") << readText(log);
        helperSide.reset();
        const char state[] = "state on\n";
        ASSERT_EQ(::send(management.get(), state, sizeof state - 1, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof state - 1));
        ASSERT_TRUE(readUntil(management.get(), "CONNECTED,SUCCESS", std::chrono::seconds(20))) << readText(log);
        ASSERT_TRUE(waitFor([&] { return readText(log).find("tunnel up on") != std::string::npos; },
                            std::chrono::seconds(10)));
        const auto running = ourOpenVPNs();
        app.reset();
        management.reset();
        HelperMessage taken;
        EXPECT_TRUE(waitFor([&] { return call("attachRunningOpenVPN", {}, &taken) == "YES"; }, std::chrono::seconds(10)))
            << readText(log);
        EXPECT_EQ(ourOpenVPNs(), running);
        const std::string* gateway = helperString(taken, "gateway");
        ASSERT_TRUE(gateway) << "no gateway on record";
        EXPECT_EQ(*gateway, testbed::OpenVPNTestbed::kTunnelGateway);
        EXPECT_EQ(call("terminatePreviousOpenVPNProcesses"), "YES");
    }
}

// Cancelled under the lock before the server answered: the release finds
// openvpn still exiting and keeps its server's host route; openvpn's end
// takes it.
TEST_F(OpenVPNHelper, AHostRouteKeptWhileACancelledOpenVPNExitsGoesOnceItHasGone) {
    const std::string server = testbed::OpenVPNTestbed::kServerAddress;
    auto hostRoute = [&] {
        std::string out;
        hw::test::runTool({"ip", "-4", "route", "show", server + "/32"}, std::chrono::seconds(5), &out);
        return out;
    };
    ASSERT_TRUE(hw::test::runTool({"ip", "route", "replace", "default", "via", server}, std::chrono::seconds(5)));
    const pid_t held = std::stoi(readText(bed_->dir() + "/pki/openvpn.pid"));
    ASSERT_EQ(::kill(held, SIGSTOP), 0);
    EXPECT_EQ(call("enableNetworkLock"), server);
    EXPECT_EQ(call("staticRouteAddingProcessing", {{"vpnServerAddress", server}}), server);
    UniqueFd management;
    EXPECT_EQ(create(bed_->clientConfig(), &management), "YES") << readText(bed_->dir() + "/helper.log");
    EXPECT_EQ(call("disableNetworkLock", {{"gatewayAddress", server}}), "YES");
    EXPECT_NE(hostRoute(), "") << "kept while openvpn runs";
    const char stop[] = "signal SIGTERM\n";
    ::send(management.get(), stop, sizeof stop - 1, MSG_NOSIGNAL);
    const bool gone = waitFor([&] { return ourOpenVPNs().empty() && hostRoute().empty(); }, std::chrono::seconds(15));
    ::kill(held, SIGCONT);
    EXPECT_TRUE(gone) << hostRoute() << readText(bed_->dir() + "/helper.log");
    hw::test::runTool({"ip", "route", "del", "default"}, std::chrono::seconds(5));
}

}  // namespace
}  // namespace hw::helper
