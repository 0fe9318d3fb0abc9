#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>

#include "helper/esp_probe.h"
#include "helper/ppp/ppp_options.h"
#include "helper/ppp/ppp_vpn_services.h"
#include "platform/posix_process_runner.h"
#include "support/temp_dir.h"
#include "support/capture_log.h"
#include "support/fake_system_vpn_pppd.h"
#include "support/netns_rig.h"

namespace hw::helper::ppp {
namespace {

using hw::test::TempDir;

HelperDictionary params(std::int64_t type, const std::string& user = "alice") {
    return {{"type", HelperValue(type)}, {"name", "Havenway"}, {"endpointPrefix", "de1."},
            {"endpointSuffix", "example.net"}, {"endpointIPAddress", "192.0.2.10"}, {"username", user},
            {"password", "p4ss\" pty \"/bin/sh"}, {"sharedSecret", "s3cret-psk"}};
}

// Status reports from the links' monitor threads, waited on with a bound.
struct Reports {
    std::mutex mutex;
    std::vector<PppLinkStatus> list;
    void add(const PppLinkStatus& s) {
        std::lock_guard lock(mutex);
        list.push_back(s);
    }
    bool waitFor(std::function<bool(const PppLinkStatus&)> match) {
        return hw::test::waitFor([&] {
            std::lock_guard lock(mutex);
            return std::any_of(list.begin(), list.end(), match);
        }, std::chrono::seconds(10));
    }
};

class PppLinksTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root: the service files are root-only";
        paths = PppPaths::under(dir.path() + "/state", dir.path() + "/run");
        paths.logFile = dir.file("ppp.log");
        paths.pppd = dir.file("pppd");
        TempDir::write(paths.pppd, hw::test::kStandInPppd);
        ::chmod(paths.pppd.c_str(), 0755);
        services = std::make_unique<PppVpnServices>(paths, runner, [](std::string* why) {
            *why = "no ESP in this test";
            return false;
        });
        services->setObserver([this](const std::string&, const PppLinkStatus& s) { reports.add(s); });
    }
    void TearDown() override { hw::log::setSink(nullptr); }
    // A PPTP link of that user, started and up; its service ID.
    std::string upLink(const std::string& user = "alice") {
        auto s = services->create(params(3, user), nullptr);
        std::string error;
        EXPECT_TRUE(s && services->start(s->serviceID, &error)) << error;
        EXPECT_TRUE(reports.waitFor([](const auto& r) { return r.status == 2; }));
        return s ? s->serviceID : "";
    }
    bool downReported() {
        return reports.waitFor([](const auto& r) { return r.status == 0; });
    }

    TempDir dir;
    std::shared_ptr<hw::test::CaptureLog> log = hw::test::CaptureLog::install();
    PppPaths paths;
    PosixProcessRunner runner;
    std::unique_ptr<PppVpnServices> services;
    Reports reports;
};

TEST_F(PppLinksTest, DialsFollowsAndHangsUpAPPTPService) {
    const std::string id = upLink();
    auto up = services->status(id);
    EXPECT_EQ(up.status, 2);
    EXPECT_EQ(up.pppStatus, 8);
    EXPECT_EQ(TempDir::mode(optionsPath(paths, id)), 0600u);
    std::string error;
    EXPECT_TRUE(services->start(id, &error)) << "a running link is left alone";

    EXPECT_TRUE(services->stop(id, true));
    ASSERT_TRUE(downReported());
    auto down = services->status(id);
    EXPECT_EQ(down.status, 0);
    EXPECT_EQ(down.lastCause, kPppExitUserRequest);
    EXPECT_FALSE(std::filesystem::exists(upMarkerPath(paths, id)));
    EXPECT_FALSE(std::filesystem::exists(optionsPath(paths, id))) << "it holds the password";
    std::vector<std::int32_t> order;
    for (const auto& r : reports.list) order.push_back(r.status);
    EXPECT_EQ(order, (std::vector<std::int32_t>{1, 2, 3, 0}));

    EXPECT_TRUE(services->remove("Havenway"));
    EXPECT_FALSE(services->find("Havenway"));
}

TEST_F(PppLinksTest, PppdExitCodeIsTheLastCause) {
    auto s = services->create(params(3, "reject-19"), nullptr);
    std::string error;
    ASSERT_TRUE(s && services->start(s->serviceID, &error)) << error;
    ASSERT_TRUE(downReported());
    EXPECT_EQ(services->status(s->serviceID).lastCause, 19);
    EXPECT_NE(TempDir::read(paths.logFile).find("stand-in pppd: link for reject-19"), std::string::npos);
}

TEST_F(PppLinksTest, RemovingARunningServiceHangsItUp) {
    upLink();
    EXPECT_TRUE(services->remove("Havenway"));
    EXPECT_TRUE(downReported());
}

TEST_F(PppLinksTest, ANewRunStopsTheLinksAnEarlierRunLeftBehind) {
    upLink();
    PppVpnServices restarted(paths, runner, nullptr);
    EXPECT_TRUE(downReported());
}

// --- the real pppd reads what we write ---------------------------------------

class PppdDryRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "pppd parses its options only as root";
        if (::access("/usr/sbin/pppd", X_OK) != 0) GTEST_SKIP() << "pppd is not installed";
        paths = PppPaths::under(dir.path() + "/state", dir.path() + "/run");
        paths.logFile = dir.file("ppp.log");
        std::filesystem::create_directories(paths.runDir);
    }
    // pppd's exit code for the options: 4 = parsed cleanly (then stopped for
    // lack of /dev/ppp), 2 = an option error.
    int dryRun(const std::string& options, bool addPty) {
        TempDir::write(dir.file("options"), options);
        ProcessRequest r;
        r.argv = {"/usr/sbin/pppd", "file", dir.file("options")};
        if (addPty) r.argv.insert(r.argv.end(), {"pty", "/bin/true"});
        r.argv.push_back("dryrun");
        r.timeout = std::chrono::seconds(10);
        auto result = runner.run(r);
        return result.started && !result.timedOut ? result.exitCode : -1;
    }

    TempDir dir;
    PppPaths paths;
    PosixProcessRunner runner;
    PppService service{"0123456789abcdef0123456789abcdef", "Havenway", PppServiceType::PPTP, "de1.example.net",
                       "alice"};
};

TEST_F(PppdDryRunTest, GeneratedOptionsParseAndHostileValuesStayWords) {
    if (std::filesystem::exists("/dev/ppp")) GTEST_SKIP() << "with /dev/ppp a dry run would open a device";
    ASSERT_EQ(dryRun("this-is-no-option\n", true), 2) << "the check itself must see errors";

    for (const char* password :
         {"plain", "p4ss bogus-option", "p4ss\" bogus-option \"x", "back\\slash\\", "# not a comment", "'quoted'"}) {
        SCOPED_TRACE(password);
        auto pptp = pppdOptions(service, {password, ""}, paths);
        ASSERT_TRUE(pptp);
        EXPECT_EQ(dryRun(*pptp, false), 4) << *pptp;
        auto l2tp = service;
        l2tp.type = PppServiceType::L2TP;
        l2tp.username = std::string("u\" ") + password;
        auto options = pppdOptions(l2tp, {password, "psk"}, paths);
        ASSERT_TRUE(options);
        EXPECT_EQ(dryRun(*options, true), 4) << *options;
    }
    // Without the quoting the same value would have reached pppd as options.
    EXPECT_EQ(dryRun("password p4ss bogus-option\n", true), 2);
}

TEST(KernelEspProbe, AnswersWithAReason) {
    if (::geteuid() != 0) GTEST_SKIP() << "adding a security association needs root";
    PosixProcessRunner runner;
    std::string why;
    EXPECT_TRUE(kernelSupportsEsp(runner, &why) || !why.empty());
    // Either way nothing of the probe is left behind.
    ProcessRequest r;
    r.argv = {"/usr/sbin/ip", "xfrm", "state", "list"};
    r.timeout = std::chrono::seconds(5);
    EXPECT_EQ(runner.run(r).out.find("0x4877aa01"), std::string::npos);
}

}  // namespace
}  // namespace hw::helper::ppp
