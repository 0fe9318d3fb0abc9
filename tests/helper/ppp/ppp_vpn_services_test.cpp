#include "helper/ppp/ppp_options.h"
#include "helper/ppp/ppp_vpn_services.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "helper/fake_system.h"
#include "support/temp_dir.h"
#include "support/capture_log.h"
#include "support/fake_process_runner.h"

namespace hw::helper::ppp {
namespace {

using hw::test::TempDir;

HelperDictionary params(std::int64_t type) {
    return {{"type", HelperValue(type)},           {"name", "Havenway"},
            {"endpointPrefix", "de1."},            {"endpointSuffix", "example.net"},
            {"endpointIPAddress", ""},             {"username", "alice"},
            {"password", "p4ss-word"},             {"sharedSecret", "s3cret-psk"}};
}

struct PppVpnServicesTest : ::testing::Test {
    static PppPaths pathsIn(const TempDir& dir) {
        auto p = PppPaths::under(dir.path() + "/state", dir.path() + "/run");
        p.logFile = dir.file("ppp.log");
        return p;
    }
    TempDir dir;
    std::shared_ptr<hw::test::CaptureLog> log = hw::test::CaptureLog::install();
    hw::test::FakeProcessRunner runner;
    PppPaths paths = pathsIn(dir);
    PppVpnServices services{paths, runner,
                            [](std::string* why) {
                                *why = "no ESP here";
                                return false;
                            }};
    ~PppVpnServicesTest() override { hw::log::setSink(nullptr); }
};

TEST_F(PppVpnServicesTest, CreatesUpdatesFindsAndRemovesByName) {
    auto created = services.create(params(3), nullptr);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->endpoint, "de1.example.net");
    auto p = params(2);
    p["endpointIPAddress"] = "192.0.2.9";
    p["password"] = "n3w";
    auto updated = services.create(p, nullptr);
    ASSERT_TRUE(updated);
    EXPECT_EQ(updated->serviceID, created->serviceID);
    EXPECT_EQ(updated->type, PppServiceType::L2TP);
    EXPECT_EQ(updated->endpoint, "192.0.2.9");
    EXPECT_EQ(services.store().all().size(), 1u);
    EXPECT_EQ(services.store().secrets(created->serviceID)->password, "n3w");

    EXPECT_FALSE(services.find("havenway")) << "names match exactly";
    EXPECT_TRUE(services.remove("Havenway"));
    EXPECT_FALSE(services.find("Havenway"));
    EXPECT_FALSE(services.remove("Havenway"));
}

TEST_F(PppVpnServicesTest, RefusesEveryValueThatCouldInjectOrIsMissing) {
    struct Case {
        const char* what;
        const char* key;
        HelperValue value;
    };
    const Case cases[] = {
        {"unknown type", "type", HelperValue(std::int64_t{1})},
        {"type as text", "type", HelperValue("2")},
        {"name with a slash", "name", HelperValue("../etc")},
        {"endpoint that runs a command", "endpointIPAddress", HelperValue("1.2.3.4;reboot")},
        {"host name with a space", "endpointPrefix", HelperValue("a b.")},
        {"password with a newline", "password", HelperValue("x\nplugin evil.so")},
        {"empty user", "username", HelperValue("")},
        {"empty shared secret", "sharedSecret", HelperValue("")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = params(2);
        p[c.key] = c.value;
        std::string error;
        EXPECT_FALSE(services.create(p, &error));
        EXPECT_FALSE(error.empty());
    }
    auto p = params(2);
    p.erase("sharedSecret");
    EXPECT_FALSE(services.create(p, nullptr));
    p = params(3);
    p.erase("sharedSecret");
    EXPECT_TRUE(services.create(p, nullptr)) << "PPTP needs no shared secret";
    EXPECT_FALSE(log->contains("plugin evil.so"));
}

TEST_F(PppVpnServicesTest, L2TPFailsAtOnceWithoutKernelESPLeavingSecretsRootOnlyAndInNoLog) {
    auto s = services.create(params(2), nullptr);
    ASSERT_TRUE(s);
    std::vector<PppLinkStatus> reports;
    services.setObserver([&](const std::string&, const PppLinkStatus& st) { reports.push_back(st); });
    std::string error;
    EXPECT_FALSE(services.start(s->serviceID, &error));
    EXPECT_NE(error.find("needs ESP in the kernel"), std::string::npos);
    EXPECT_NE(error.find("no ESP here"), std::string::npos);
    EXPECT_EQ(services.status(s->serviceID).lastCause, kPppExitNoKernelSupport);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].lastCause, kPppExitNoKernelSupport);
    EXPECT_FALSE(services.start("ffffffffffffffffffffffffffffffff", &error));
    EXPECT_EQ(error, "no such service");

    const std::string folder = dir.path() + "/state/ppp";
    for (const std::string& f : {folder, paths.runDir}) EXPECT_EQ(TempDir::mode(f), 0700u) << f;
    for (const char* ext : {".service", ".secrets"}) EXPECT_EQ(TempDir::mode(folder + "/" + s->serviceID + ext), 0600u);
    EXPECT_FALSE(std::filesystem::exists(optionsPath(paths, s->serviceID))) << "a failed start leaves no password";
    const auto definition = TempDir::read(folder + "/" + s->serviceID + ".service");
    for (const char* secret : {"p4ss-word", "s3cret-psk"}) {
        EXPECT_FALSE(log->contains(secret));
        for (const std::string& text : {definition, TempDir::read(paths.logFile)})
            EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    }
    EXPECT_EQ(TempDir::mode(paths.logFile), 0640u) << "the error report reads it through the helper's group";
}

// Each watch holds a descriptor of the helper's: only for a service that
// exists, bounded per service, per client and in all, and given back when
// its reader goes.
TEST_F(PppVpnServicesTest, WatchesAreBoundedAndEndWithTheirReader) {
    std::vector<std::string> ids;
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        auto p = params(3);
        p["name"] = name;
        auto s = services.create(p, nullptr);
        ASSERT_TRUE(s);
        ids.push_back(s->serviceID);
    }
    std::vector<UniqueFd> readers;
    auto watch = [&](const std::string& id, pid_t client) {
        auto [mine, theirs] = makeHelperSocketPair();
        readers.push_back(std::move(mine));
        return services.watch(id, std::make_shared<UniqueFd>(std::move(theirs)), client);
    };
    EXPECT_FALSE(watch(std::string(32, 'f'), 1));
    EXPECT_EQ(services.watchCount(), 0u);

    for (int i = 0; i < 10; ++i) EXPECT_TRUE(watch(ids[0], 1));
    EXPECT_EQ(services.watchCount(), kWatchesPerService);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(watch(ids[1 + i % 4], 2));
    EXPECT_EQ(services.watchCount(), 2 * kWatchesPerClient);
    for (pid_t client = 3; client < 12; ++client)
        for (std::size_t i = 0; i < kWatchesPerClient; ++i) EXPECT_TRUE(watch(ids[(client + i) % 5], client));
    EXPECT_EQ(services.watchCount(), kWatchesInAll);

    // The newest are the ones kept: the last reader's leaving ends one.
    readers.pop_back();
    services.releaseClosedWatches();
    EXPECT_EQ(services.watchCount(), kWatchesInAll - 1);
    readers.clear();
    services.releaseClosedWatches();
    EXPECT_EQ(services.watchCount(), 0u);
}

TEST(PppLeftovers, ARunAfterACrashRemovesTheHostRoutesAndFilesItFinds) {
    TempDir dir;
    const auto paths = PppPaths::under(dir.path() + "/state", dir.path() + "/run");
    std::filesystem::create_directories(paths.runDir);
    const std::string id(32, 'a');
    TempDir::write(paths.runDir + "/" + id + ".options", "password p4ss-word\n");
    TempDir::write(paths.runDir + "/" + id + ".route", "203.0.113.5/32");
    TempDir::write(paths.runDir + "/" + std::string(32, 'b') + ".route", "203.0.113.5/32 dev lo; reboot");
    hw::test::FakeProcessRunner runner;
    PppVpnServices restarted(paths, runner, nullptr);
    EXPECT_EQ(runner.argvs(), (std::vector<std::vector<std::string>>{{"ip", "route", "del", "203.0.113.5/32"}}));
    EXPECT_FALSE(std::filesystem::exists(paths.runDir));
}

TEST_F(PppVpnServicesTest, AHandEditedDefinitionCannotSmuggleAValue) {
    auto s = services.create(params(3), nullptr);
    ASSERT_TRUE(s);
    const std::string path = dir.path() + "/state/ppp/" + s->serviceID + ".service";
    auto text = TempDir::read(path);
    text.replace(text.find("de1.example.net"), 15, "x.net;reboot");
    TempDir::write(path, text);
    EXPECT_FALSE(services.find("Havenway"));
}

TEST(PppCommands, AnswerThroughTheDispatcher) {
    TempDir dir;
    hw::test::FakeProcessRunner runner;
    auto services = std::make_shared<PppVpnServices>(PppPaths::under(dir.path(), dir.path() + "/run"), runner, nullptr);
    CommandDispatcher d;
    registerPppCommands(d, services);
    EXPECT_EQ(hw::helper::test::rpc(d, "connectToVPN", params(3)), "YES");
    auto bad = params(3);
    bad["endpointIPAddress"] = "-oProxyCommand=x";
    EXPECT_EQ(hw::helper::test::rpc(d, "connectToVPN", bad), "NO");

    auto found = hw::helper::test::call(d, {{"type", kHelperToolRpc}, {"rpc", "getVPNService"},
                                            {"parameters", HelperDictionary{{"connectionName", "Havenway"}}}});
    ASSERT_TRUE(found);
    const std::string* id = helperString(*found, "serviceID");
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(helperBool(*found, "hasIPSec"), false);
    auto status = hw::helper::test::call(d, {{"type", kHelperToolRpc}, {"rpc", "getVPNServiceStatus"},
                                             {"parameters", HelperDictionary{{"serviceID", *id}}}});
    ASSERT_TRUE(status);
    EXPECT_EQ(helperInt(*status, "status"), 0);
    EXPECT_EQ(hw::helper::test::rpc(d, "getVPNServiceStatus", {{"serviceID", "../x"}}), "NO");
    EXPECT_EQ(hw::helper::test::rpc(d, "stopVPNService", {{"serviceID", *id}}), "NO") << "nothing runs";
    EXPECT_EQ(hw::helper::test::rpc(d, "deleteExistingVPNService", {{"connectionName", "Havenway"}}), "YES");
    EXPECT_EQ(hw::helper::test::rpc(d, "getVPNService", {{"connectionName", "Havenway"}}), "NO");
}

}  // namespace
}  // namespace hw::helper::ppp
