#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "../../testbed/openvpn/openvpn_testbed.h"
#include "connection/openvpn_constants.h"
#include "connection/openvpn_vpn_connection_provider.h"
#include "openvpn_fake_management.h"
#include "platform/helper_connection.h"
#include "platform/paths.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

using testbed::OpenVPNTestbed;

class Context final : public OpenVPN_ProviderContext {
public:
    std::optional<OpenVPNLoginData> login;
    std::optional<OpenVPNLoginData> recentLoginData() const override { return login; }
    bool useNetworkLock() const override { return false; }
    bool networkLockActivated() const override { return false; }
    bool autoReconnectInProgress() const override { return false; }
    void setAutoReconnectInProgress(bool) override {}
    void setOpenVPN_Reconnect_in_progress(bool) override {}
    bool isLoggedInUser() const override { return true; }
    void requestAutoReconnect() override {}
    void showAutoReconnectOverlay() override {}
    void showAutoReconnectWithNetworkLockNotification() override {}
    void enableNetworkLock() override {}
};

struct Status {
    std::int32_t code;
    std::optional<std::string> message;
};

// The openvpn server in one namespace; the helper (the real executable) and
// the provider in the other, talking as the app does.
class OpenVPNEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        helperBinary_ = std::string(HW_BINARY_DIR) + "/helper/havenway-helper";
        skip_ = testbed::helperUnavailable(helperBinary_);
        if (skip_.empty()) bed_ = new OpenVPNTestbed(HW_SOURCE_DIR);
    }
    static void TearDownTestSuite() {
        delete bed_;
        bed_ = nullptr;
    }

    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(bed_->ok()) << bed_->error();
        ASSERT_TRUE(bed_->enterClientNamespace());
        const std::string d = bed_->dir();
        ::setenv("HAVENWAY_DATA_DIR", (d + "/appdata").c_str(), 1);
        socket_ = testbed::startHelper(helperBinary_, d, helper_);
        ASSERT_FALSE(socket_.empty()) << testbed::readText(d + "/helper.log");
        ASSERT_TRUE(connection.connect(socket_, nullptr));
        provider = std::make_unique<OpenVPN_VPNConnectionProvider>(queue, context);
        provider->retrieveConnectionAndSubscribeToStatusUpdates(
            "", [this](std::int32_t s, const std::optional<std::string>& m, VPNTypes) { statuses.push_back({s, m}); }, false);
    }
    void TearDown() override {
        if (!skip_.empty()) return;
        provider.reset();
        connection.cancel();
        helper_.stop();
        if (bed_) bed_->leaveClientNamespace();
    }

    std::string call(const std::string& rpc, HelperDictionary parameters = {}) {
        std::optional<std::string> reply;
        HelperMessage m{{"type", "helper_tool_rpc"}, {"rpc", rpc}};
        if (!parameters.empty()) m["parameters"] = parameters;
        connection.send(m, [&](HelperReply r) {
            const std::string* s = helperString(r.message, "reply");
            reply = s ? *s : "NO";
        });
        test::pumpUntil(queue, [&] { return reply.has_value(); }, std::chrono::seconds(20));
        return reply.value_or("(no reply)");
    }
    // The manager's road: write the configuration, have the helper start openvpn.
    std::string createConnection(const std::string& config) {
        std::string error;
        const std::string& path = OpenVPNConstants::configFilePath();
        EXPECT_TRUE(paths::writeFileAtomically(path, config, 0600, &error)) << error;
        HelperDictionary p;
        for (const auto& [k, v] : OpenVPNConstants::connectionParameters()) p[k] = v;
        return call("createOpenVPNConnection", p);
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

    static inline OpenVPNTestbed* bed_ = nullptr;
    static inline std::string skip_;
    static inline std::string helperBinary_;
    std::string socket_;
    testbed::ChildProcess helper_;
    test::ManualQueue queue;
    HelperConnection connection{queue};
    Context context;
    std::unique_ptr<OpenVPN_VPNConnectionProvider> provider;
    std::vector<Status> statuses;
};

TEST_F(OpenVPNEndToEnd, ConnectsWithTheRightPasswordAndDisconnectEndsOpenVPN) {
    context.login = OpenVPNLoginData{OpenVPNTestbed::kUser, OpenVPNTestbed::kPassword};
    ASSERT_EQ(createConnection(bed_->clientConfig()), "YES") << testbed::readText(bed_->dir() + "/helper.log");
    provider->startDial([] { ADD_FAILURE() << "startDial runs no completion"; });
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return statusSeen(2) || statusSeen(0); }, std::chrono::seconds(20)))
        << provider->logData();
    ASSERT_TRUE(statusSeen(2)) << provider->logData();
    EXPECT_EQ(provider->latestGateway(), OpenVPNTestbed::kTunnelGateway);
    EXPECT_EQ(provider->logData().find(OpenVPNTestbed::kPassword), std::string::npos);

    struct stat st {};
    ASSERT_EQ(::stat(paths::parentOf(OpenVPNConstants::configFilePath()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((bed_->dir() + "/run/openvpn-config/config.ovpn").c_str(), &st), 0);  // what openvpn reads
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, 0u);

    // The up event told the helper the pushed DNS server.
    EXPECT_EQ(call("install_DNS_for_VPN"), "YES");
    EXPECT_NE(testbed::readText(bed_->dir() + "/resolv.conf").find(OpenVPNTestbed::kTunnelGateway), std::string::npos);
    EXPECT_EQ(call("restore_DNS_to_original", {{"forOpenVPN", 1}, {"skipFallback", 0}}), "YES");

    auto pids = recordedOpenVPN();
    ASSERT_EQ(pids.size(), 1u);
    provider->disconnect([] { ADD_FAILURE() << "disconnect runs no completion"; });
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return statuses.back().code == 0; }));
    EXPECT_TRUE(testbed::waitFor([&] { return ::kill(pids[0], 0) != 0; }, std::chrono::seconds(10)))
        << "openvpn " << pids[0] << " still runs";
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

TEST_F(OpenVPNEndToEnd, ManagementPortHeldByAnotherProgramIsRefused) {
    test::FakeManagementServer impostor(OpenVPNConstants::managementPort);
    ASSERT_EQ(impostor.port(), OpenVPNConstants::managementPort);
    EXPECT_EQ(createConnection(bed_->clientConfig()), "NO");
}

}  // namespace
}  // namespace hw
