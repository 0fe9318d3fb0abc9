// The PPP providers against the real helper binary over its socket, with a
// stand-in pppd (no PPP link can come up on these machines).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "connection/l2tp_vpn_connection_provider.h"
#include "connection/pptp_vpn_connection_provider.h"
#include "connection/system_vpn_service_helper.h"
#include "status_recorder.h"
#include "support/child_process.h"
#include "support/fake_system_vpn_pppd.h"
#include "support/netns_rig.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

class PppThroughTheHelper : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the helper runs as root";
        ASSERT_FALSE(dir_.empty());
        std::ofstream(dir_ + "/pppd") << test::kStandInPppd;
        ::chmod((dir_ + "/pppd").c_str(), 0755);
        ASSERT_TRUE(startHelper());
        call_ = makeHelperSocketCall(dir_ + "/helper.sock", std::chrono::seconds(5));
        store_ = std::make_shared<HelperSystemVPNServiceStore>(call_, std::chrono::milliseconds(20));
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            EXPECT_EQ(waitHelper(), 0);
        }
    }

    // Everything the helper logs goes to a file the tests search for secrets.
    bool startHelper() {
        pid_ = test::spawnLogged(
            {HW_BINARY_DIR "/helper/havenway-helper"}, dir_ + "/helper.log",
            {"HAVENWAY_HELPER_SOCKET=" + dir_ + "/helper.sock", "HAVENWAY_HELPER_CONF=" + dir_ + "/helper.conf",
             "HAVENWAY_HELPER_STATE_DIR=" + dir_ + "/state", "HAVENWAY_HELPER_RUN_DIR=" + dir_ + "/run",
             "HAVENWAY_RESOLV_CONF=" + dir_ + "/resolv.conf", "HAVENWAY_PPPD=" + dir_ + "/pppd",
             "HAVENWAY_PPP_LOG=" + dir_ + "/ppp.log", "ASAN_OPTIONS=detect_leaks=0"});
        return pid_ > 0 && test::waitFor([&] { return test::helperSocketListens(dir_ + "/helper.sock"); },
                                         std::chrono::seconds(10));
    }
    int waitHelper() {
        const int code = test::waitChild(pid_, std::chrono::seconds(10));
        pid_ = -1;
        return code;
    }
    std::string read(const std::string& file) { return test::readText(dir_ + "/" + file); }
    std::string rpc(const std::string& name, HelperDictionary parameters) {
        auto reply = call_(name, std::move(parameters));
        const std::string* text = reply ? helperString(*reply, "reply") : nullptr;
        return text ? *text : "<none>";
    }
    HelperDictionary service(std::int64_t type) {
        return {{"type", HelperValue(type)}, {"name", "Havenway"},           {"endpointPrefix", "de1."},
                {"endpointSuffix", "example.net"}, {"endpointIPAddress", ""}, {"username", "alice"},
                {"password", "p4ss-word"},  {"sharedSecret", "s3cret-psk"}};
    }

    test::TempDir temp_;
    std::string dir_ = temp_.path();
    pid_t pid_ = -1;
    HelperCall call_;
    std::shared_ptr<HelperSystemVPNServiceStore> store_;
};

TEST_F(PppThroughTheHelper, CreateFindDialHangUpAndRemoveAPPTPService) {
    ASSERT_EQ(rpc("connectToVPN", service(3)), "YES");
    PPTP_VPNConnectionProvider provider(store_);
    EXPECT_EQ(provider.getExistingVPNConnectionProtocolType("Havenway"), 3);

    test::StatusRecorder rec;
    EXPECT_EQ(provider.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", rec.callback(), false), 0);
    bool dialled = false;
    provider.startDial([&] { dialled = true; });
    EXPECT_TRUE(dialled);
    ASSERT_TRUE(rec.waitForReport("2")) << "the stand-in pppd brings the link up";
    provider.disconnect({});
    ASSERT_TRUE(rec.waitForReport("0:5")) << "pppd's exit on TERM is the last cause";
    EXPECT_EQ(rec.reports(), (std::vector<std::string>{"0/3", "1/3", "2/3", "3/3", "0:5/3"}))
        << "the current status first, then every change";
    provider.stopConnectionStatusUpdates();

    provider.deleteExistingVPNService("Havenway");
    EXPECT_EQ(provider.getExistingVPNConnectionProtocolType("Havenway"), -1);
    EXPECT_NE(read("ppp.log").find("stand-in pppd: link for alice"), std::string::npos);
    for (const char* log : {"ppp.log", "helper.log"}) {
        EXPECT_EQ(read(log).find("p4ss-word"), std::string::npos) << log;
        EXPECT_EQ(read(log).find("s3cret-psk"), std::string::npos) << log;
    }
    EXPECT_NE(read("helper.log").find("connectToVPN"), std::string::npos) << "the helper's log was captured";
}

TEST_F(PppThroughTheHelper, L2TPWithoutKernelEspFailsAtOnceWithItsCause) {
    ASSERT_EQ(rpc("connectToVPN", service(2)), "YES");
    L2TP_VPNConnectionProvider provider(store_);
    EXPECT_EQ(provider.getExistingVPNConnectionProtocolType("Havenway"), 2);
    auto connection = store_->connectionForService(
        *helperString(*call_("getVPNService", {{"connectionName", "Havenway"}}), "serviceID"));
    SystemVPNError error;
    bool started = connection->start(&error);
    if (started || error.text.find("no IPsec service") != std::string::npos)
        GTEST_SKIP() << "this kernel has ESP; L2TP then goes on to the IKE road";
    EXPECT_NE(error.text.find("needs ESP in the kernel"), std::string::npos) << error.text;
    EXPECT_EQ(connection->status(), 0);
    EXPECT_EQ(connection->extendedStatus().lastCause, 4);
}

}  // namespace
}  // namespace hw
