#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "connection/openvpn_constants.h"
#include "connection/openvpn_vpn_connection_provider.h"
#include "helper/openvpn/openvpn_event.h"
#include "openvpn_fake_management.h"
#include "platform/helper_connection.h"
#include "platform/paths.h"
#include "support/manual_queue.h"
#include "support/openvpn_helper_suite.h"
#include "support/poll_until.h"

namespace hw {
namespace {

using testbed::OpenVPNTestbed;

struct Status {
    std::int32_t code;
    std::optional<std::string> message;
};

// The openvpn server in one namespace; the helper (the real executable) and
// the provider in the other, talking as the app does.
class OpenVPNEndToEnd : public test::OpenVPNHelperSuite {
protected:
    void SetUp() override {
        OpenVPNHelperSuite::SetUp();
        if (!ready()) return;
        // The socket file appears at bind, a moment before the helper listens.
        ASSERT_TRUE(testbed::waitFor([&] { return connection.connect(socket_, nullptr); }, std::chrono::seconds(5)));
        provider = std::make_unique<OpenVPN_VPNConnectionProvider>(queue, context);
        provider->retrieveConnectionAndSubscribeToStatusUpdates(
            "", [this](std::int32_t s, const std::optional<std::string>& m, VPNTypes) { statuses.push_back({s, m}); }, false);
    }
    void TearDown() override {
        provider.reset();
        connection.cancel();
        OpenVPNHelperSuite::TearDown();
    }

    std::string call(const std::string& rpc, HelperDictionary parameters = {}, HelperMessage* message = nullptr) {
        std::optional<std::string> reply;
        HelperMessage m{{"type", "helper_tool_rpc"}, {"rpc", rpc}};
        if (!parameters.empty()) m["parameters"] = parameters;
        connection.send(m, [&](HelperReply r) {
            const std::string* s = helperString(r.message, "reply");
            reply = s ? *s : "NO";
            if (message) *message = r.message;
        });
        test::pumpUntil(queue, [&] { return reply.has_value(); }, std::chrono::seconds(20));
        return reply.value_or("(no reply)");
    }
    // The manager's road: write the configuration, have the helper start
    // openvpn, hand its management interface to the provider's connector.
    std::string createConnection(const std::string& config) {
        std::string error;
        const std::string& path = OpenVPNConstants::configFilePath();
        EXPECT_TRUE(paths::writeFileAtomically(path, config, 0600, &error)) << error;
        HelperDictionary p;
        for (const auto& [k, v] : OpenVPNConstants::connectionParameters()) p[k] = v;
        HelperMessage reply;
        std::string text = call("createOpenVPNConnection", p, &reply);
        if (HelperChannel management = helperChannel(reply, "management"))
            provider->connectorHelper()->setManagementSocket(UniqueFd(management->release()));
        else EXPECT_EQ(text, "NO") << "success without an interface";
        return text;
    }
    bool statusSeen(std::int32_t code) {
        for (const auto& s : statuses)
            if (s.code == code) return true;
        return false;
    }
    std::vector<pid_t> recordedOpenVPN() {
        std::vector<pid_t> pids;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(bed_->dir() + "/run/openvpn", ec))
            pids.push_back(static_cast<pid_t>(std::stol(e.path().filename().string())));
        return pids;
    }

    test::ManualQueue queue;
    HelperConnection connection{queue};
    test::QuietOpenVPNContext context;
    std::unique_ptr<OpenVPN_VPNConnectionProvider> provider;
    std::vector<Status> statuses;
};

TEST_F(OpenVPNEndToEnd, ConnectsWithTheRightPasswordAndDisconnectEndsOpenVPN) {
    context.login = OpenVPNLoginData{OpenVPNTestbed::kUser, OpenVPNTestbed::kPassword};
    ASSERT_EQ(createConnection(bed_->clientConfig()), "YES") << testbed::readText(bed_->dir() + "/helper.log");
    int dialed = 0;
    provider->startDial([&] { ++dialed; });
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return statusSeen(2) || statusSeen(0); }, std::chrono::seconds(20)))
        << provider->logData();
    ASSERT_TRUE(statusSeen(2)) << provider->logData();
    EXPECT_EQ(dialed, 1) << "the dial completes once it connects";
    EXPECT_EQ(provider->latestGateway(), OpenVPNTestbed::kTunnelGateway);
    EXPECT_EQ(provider->logData().find(OpenVPNTestbed::kPassword), std::string::npos);

    struct stat st {};
    ASSERT_EQ(::stat(paths::parentOf(OpenVPNConstants::configFilePath()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((bed_->dir() + "/run/openvpn-config/config.ovpn").c_str(), &st), 0);  // what openvpn reads
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, 0u);
    // Closed by itself too, not only by its folder.
    ASSERT_EQ(::stat((bed_->dir() + "/run/openvpn-management/management.sock").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string helperLog = testbed::readText(bed_->dir() + "/helper.log");
    EXPECT_NE(helperLog.find("MANAGEMENT: CMD 'username [...]'"), std::string::npos) << helperLog;
    EXPECT_EQ(helperLog.find(OpenVPNTestbed::kUser), std::string::npos) << "the user name is in the log";

    // The up event told the helper the pushed DNS server; it may land just
    // after openvpn reports connected, and then rewrites what was installed.
    EXPECT_EQ(call("install_DNS_for_VPN"), "YES");
    EXPECT_TRUE(test::pollUntil(
        [&] {
            return testbed::readText(bed_->dir() + "/resolv.conf").find(OpenVPNTestbed::kTunnelGateway) !=
                   std::string::npos;
        },
        std::chrono::seconds(5)))
        << testbed::readText(bed_->dir() + "/resolv.conf");
    EXPECT_EQ(call("restore_DNS_to_original", {{"forOpenVPN", 1}, {"skipFallback", 0}}), "YES");

    auto pids = recordedOpenVPN();
    ASSERT_EQ(pids.size(), 1u);
    provider->disconnect([] { ADD_FAILURE() << "disconnect runs no completion"; });
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return statuses.back().code == 0; }));
    EXPECT_TRUE(testbed::waitFor([&] { return ::kill(pids[0], 0) != 0; }, std::chrono::seconds(10)))
        << "openvpn " << pids[0] << " still runs";
    // Its down event is sent just before it ends, and still counts when the
    // helper saw the end first: the pushed server is not used after it.
    std::optional<std::string> heard;
    connection.send({{"type", helper::kOpenVPNEventType},
                     {"rpc", "down"},
                     {"parameters", HelperDictionary{{"dev", "tun0"}, {"dns", HelperArray{}}, {"pid", pids[0]}}}},
                    [&](HelperReply r) {
                        const std::string* text = helperString(r.message, "reply");
                        heard = text ? *text : "";
                    });
    test::pumpUntil(queue, [&] { return heard.has_value(); }, std::chrono::seconds(20));
    EXPECT_EQ(heard, "YES");
    EXPECT_EQ(call("install_DNS_for_VPN"), "YES");
    EXPECT_EQ(testbed::readText(bed_->dir() + "/resolv.conf").find(OpenVPNTestbed::kTunnelGateway), std::string::npos);
    EXPECT_EQ(call("restore_DNS_to_original", {{"forOpenVPN", 1}, {"skipFallback", 0}}), "YES");
}

// openvpn's own restart looks the server up again through the dead tunnel;
// the helper has it end instead, so the app's paced tries take over.
TEST_F(OpenVPNEndToEnd, ARestartOpenVPNWouldMakeItselfEndsItInstead) {
    context.login = OpenVPNLoginData{OpenVPNTestbed::kUser, OpenVPNTestbed::kPassword};
    ASSERT_EQ(createConnection(bed_->clientConfig()), "YES") << testbed::readText(bed_->dir() + "/helper.log");
    provider->startDial([] {});
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return statusSeen(2); }, std::chrono::seconds(20))) << provider->logData();
    auto pids = recordedOpenVPN();
    ASSERT_EQ(pids.size(), 1u);
    const std::size_t before = statuses.size();
    ASSERT_EQ(::kill(pids[0], SIGUSR1), 0);
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return recordedOpenVPN().empty(); }, std::chrono::seconds(20)))
        << testbed::readText(bed_->dir() + "/helper.log");
    EXPECT_TRUE(std::none_of(statuses.begin() + long(before), statuses.end(), [](const Status& s) { return s.code == 2; }))
        << "connected again by openvpn's own restart";
    provider->disconnect([] {});
}

TEST_F(OpenVPNEndToEnd, WrongPasswordIsAnAuthenticationError) {
    context.login = OpenVPNLoginData{OpenVPNTestbed::kUser, "wrong password"};
    ASSERT_EQ(createConnection(bed_->clientConfig()), "YES");
    provider->startDial({});
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return statusSeen(0); }, std::chrono::seconds(20))) << provider->logData();
    auto firstStop = std::find_if(statuses.begin(), statuses.end(), [](const Status& s) { return s.code == 0; });
    EXPECT_EQ(firstStop->message, "Authentication error, username or password doesn't match.") << provider->logData();
    EXPECT_FALSE(statusSeen(2));
}

TEST_F(OpenVPNEndToEnd, ConfigurationWithAnUpScriptIsRefused) {
    const std::string marker = bed_->dir() + "/ran";
    auto before = recordedOpenVPN();
    ASSERT_EQ(createConnection(bed_->clientConfig() + "script-security 2\nup \"/usr/bin/touch " + marker + "\"\n"), "NO");
    EXPECT_EQ(recordedOpenVPN(), before);
    EXPECT_NE(::access(marker.c_str(), F_OK), 0);
}

TEST_F(OpenVPNEndToEnd, TerminatePreviousStopsOurOpenVPNOnly) {
    testbed::ChildProcess unrelated({"sleep", "30"}, "/dev/null");
    ASSERT_EQ(createConnection(bed_->clientConfig()), "YES");
    auto pids = recordedOpenVPN();
    ASSERT_FALSE(pids.empty());
    EXPECT_EQ(call("terminatePreviousOpenVPNProcesses"), "YES");
    for (pid_t pid : pids) EXPECT_NE(::kill(pid, 0), 0) << "openvpn " << pid << " still runs";
    EXPECT_TRUE(unrelated.running());
}

// The app dies with openvpn connected: its end of the interface closes, and
// openvpn, which keeps running under the helper, is taken over by the app
// that starts next, connected at once; its disconnect then ends openvpn.
TEST_F(OpenVPNEndToEnd, ARestartedAppTakesOverTheOpenVPNThatRuns) {
    context.login = OpenVPNLoginData{OpenVPNTestbed::kUser, OpenVPNTestbed::kPassword};
    EXPECT_EQ(call("attachRunningOpenVPN"), "NO") << "none runs yet";
    ASSERT_EQ(createConnection(bed_->clientConfig()), "YES") << testbed::readText(bed_->dir() + "/helper.log");
    provider->startDial([] {});
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return statusSeen(2) || statusSeen(0); }, std::chrono::seconds(20)));
    ASSERT_TRUE(statusSeen(2)) << provider->logData();
    const auto pids = recordedOpenVPN();
    ASSERT_FALSE(pids.empty());

    provider.reset();  // as a crash: the descriptor closes, openvpn is not told
    statuses.clear();
    provider = std::make_unique<OpenVPN_VPNConnectionProvider>(queue, context);
    provider->retrieveConnectionAndSubscribeToStatusUpdates(
        "", [this](std::int32_t s, const std::optional<std::string>& m, VPNTypes) { statuses.push_back({s, m}); }, false);
    const auto start = std::chrono::steady_clock::now();
    HelperMessage reply;
    ASSERT_EQ(call("attachRunningOpenVPN", {}, &reply), "YES") << testbed::readText(bed_->dir() + "/helper.log");
    HelperChannel management = helperChannel(reply, "management");
    ASSERT_TRUE(management && *management);
    provider->connectorHelper()->setManagementSocket(UniqueFd(management->release()));
    provider->adoptRunning();
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return statusSeen(2) || statusSeen(0); }, std::chrono::seconds(5)));
    EXPECT_TRUE(statusSeen(2)) << provider->logData();
    std::cout << "taken over in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count()
              << " ms\n";
    for (pid_t pid : pids) EXPECT_EQ(::kill(pid, 0), 0) << "openvpn " << pid << " was ended";

    provider->disconnect([] {});
    ASSERT_TRUE(testbed::waitFor(
        [&] {
            for (pid_t pid : pids)
                if (::kill(pid, 0) == 0) return false;
            return true;
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(call("attachRunningOpenVPN"), "NO") << "it ended";
}

// A local user of another uid who binds openvpn's management port, or its
// socket, and plays openvpn's password prompt to whoever connects.
class Squatter {
public:
    enum class When { before, raceOpenVPN };
    Squatter(const std::string& dir, When when, const std::string& socketPath) : log_(dir + "/squatter.log") {
        ::unlink(log_.c_str());
        static const char* kScript = R"PY(
import os, socket, sys, time
port, when, path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
def out(text):
    print(text, flush=True)
listeners = []
for family, address in ((socket.AF_INET, ("127.0.0.1", port)), (socket.AF_UNIX, path)):
    s = socket.socket(family, socket.SOCK_STREAM)
    try:
        s.bind(address)
        s.settimeout(0.05)
        listeners.append(s)
        out("bound %s" % (address,))
    except OSError as e:
        out("refused %s: %s" % (address, e.strerror))
# Bound but not listening is invisible in the socket tables; listen only
# once the client's openvpn has started (and failed to bind). The helper may
# start it before this script first looks; the testbed's server is no client.
if when == "race":
    end = time.time() + 20
    found = False
    while not found and time.time() < end:
        for p in os.listdir("/proc"):
            if not p.isdigit():
                continue
            try:
                found = (open("/proc/%s/comm" % p).read().strip() == "openvpn" and
                         b"--management-query-passwords" in open("/proc/%s/cmdline" % p, "rb").read())
            except OSError:
                pass
            if found:
                break
for s in listeners:
    s.listen(4)
out("ready")
end = time.time() + 60
while time.time() < end:
    for s in listeners:
        try:
            c, _ = s.accept()
        except OSError:
            continue
        c.sendall(b">INFO:OpenVPN Management Interface Version 5\r\n>PASSWORD:Need 'Auth' username/password\r\n")
        c.settimeout(3)
        data = b""
        try:
            while len(data) < 4096:
                chunk = c.recv(4096)
                if not chunk:
                    break
                data += chunk
        except OSError:
            pass
        out("got %r" % data)
)PY";
        child_ = testbed::ChildProcess({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                        "/usr/bin/python3", "-c", kScript,
                                        std::to_string(OpenVPNConstants::managementPort),
                                        when == When::before ? "before" : "race", socketPath},
                                       log_);
    }
    bool ready() {
        return testbed::waitFor([&] { return output().find("ready") != std::string::npos; }, std::chrono::seconds(20));
    }
    std::string output() const { return testbed::readText(log_); }

private:
    std::string log_;
    testbed::ChildProcess child_;
};

TEST_F(OpenVPNEndToEnd, ASquatterOfAnotherUidNeverGetsTheCredentials) {
    const std::string socketPath = bed_->dir() + "/run/openvpn-management/management.sock";
    // The run folder is root's alone, as /run/havenway is; the squatter may
    // still look for a way in.
    ASSERT_EQ(::chmod(bed_->dir().c_str(), 0755), 0);
    enum class Start { beforeCreate, racingOpenVPN, afterHandOver };
    for (Start start : {Start::beforeCreate, Start::racingOpenVPN, Start::afterHandOver}) {
        SCOPED_TRACE(static_cast<int>(start));
        statuses.clear();
        context.login = OpenVPNLoginData{OpenVPNTestbed::kUser, OpenVPNTestbed::kPassword};
        std::optional<Squatter> squatter;
        auto startSquatter = [&](Squatter::When when) {
            squatter.emplace(bed_->dir(), when, socketPath);
            if (when == Squatter::When::before) {
                ASSERT_TRUE(squatter->ready()) << squatter->output();
            }
        };
        if (start == Start::beforeCreate) startSquatter(Squatter::When::before);
        if (start == Start::racingOpenVPN) startSquatter(Squatter::When::raceOpenVPN);
        ASSERT_EQ(createConnection(bed_->clientConfig()), "YES") << testbed::readText(bed_->dir() + "/helper.log");
        if (start == Start::racingOpenVPN) {
            ASSERT_TRUE(squatter->ready()) << squatter->output();
        }
        if (start == Start::afterHandOver) startSquatter(Squatter::When::before);

        provider->startDial({});
        ASSERT_TRUE(test::pumpUntil(queue, [&] { return statusSeen(2) || statusSeen(0); }, std::chrono::seconds(20)))
            << provider->logData();
        EXPECT_TRUE(statusSeen(2)) << provider->logData();
        const std::string heard = squatter->output();
        EXPECT_NE(heard.find("bound ('127.0.0.1', 9544)"), std::string::npos) << heard;
        EXPECT_NE(heard.find("refused " + socketPath), std::string::npos) << heard;
        EXPECT_EQ(heard.find("got"), std::string::npos) << heard;
        provider->disconnect({});
        ASSERT_TRUE(test::pumpUntil(queue, [&] { return statuses.back().code == 0; }));
    }
}

TEST_F(OpenVPNEndToEnd, AManagementFolderNotRootsAloneFailsTheCreationAndTheDial) {
    const std::string folder = bed_->dir() + "/run/openvpn-management";
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    context.login = OpenVPNLoginData{OpenVPNTestbed::kUser, OpenVPNTestbed::kPassword};
    EXPECT_EQ(createConnection(bed_->clientConfig()), "NO");
    EXPECT_TRUE(recordedOpenVPN().empty());
    provider->startDial({});
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return statusSeen(0); }));
    EXPECT_FALSE(statusSeen(2));
    std::filesystem::remove_all(folder);
}

TEST_F(OpenVPNEndToEnd, OpenVPNThatCannotStartIsAFailureWithItsOwnReasonLogged) {
    // openvpn refuses the value and exits before its interface listens.
    EXPECT_EQ(createConnection(bed_->clientConfig() + "tls-version-min 9.9\n"), "NO");
    EXPECT_NE(testbed::readText(bed_->dir() + "/helper.log").find("Options error"), std::string::npos)
        << testbed::readText(bed_->dir() + "/helper.log");
}

}  // namespace
}  // namespace hw
