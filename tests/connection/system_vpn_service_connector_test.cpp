#include <gtest/gtest.h>

#include "connection/l2tp_connector.h"
#include "connection/l2tp_vpn_connection_provider.h"
#include "connection/pptp_connector.h"
#include "sample_service_config.h"
#include "status_recorder.h"
#include "support/capture_log.h"
#include "support/fake_secret_store.h"
#include "support/fake_system_vpn_service.h"

namespace hw {
namespace {

using test::FakeSystemVPNServiceStore;

struct SystemVPNConnectorTest : ::testing::Test {
    std::shared_ptr<FakeSystemVPNServiceStore> store = std::make_shared<FakeSystemVPNServiceStore>();
    std::shared_ptr<test::FakeSecretStore> keychain = std::make_shared<test::FakeSecretStore>();
    std::shared_ptr<test::CaptureLog> log = test::CaptureLog::install();
    ~SystemVPNConnectorTest() override { hw::log::setSink(nullptr); }
};

TEST_F(SystemVPNConnectorTest, CreatesEachServiceWithItsSecretsOnlyInTheKeychain) {
    L2TPConnector l2tp(store, keychain);
    auto c = test::sampleServiceConfig(VPNTypesL2TP);
    bool called = false;
    EXPECT_EQ(l2tp.createAndConnect(c, [&] { called = true; }), 0);
    EXPECT_TRUE(called);
    const auto* s = store->committed("Havenway");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(c.serviceID(), s->id);
    EXPECT_EQ(s->interfaceConfig, c.L2TP_PPPConfig());
    EXPECT_EQ(s->extended.at("IPSec"), c.L2TPIPSecConfig());
    EXPECT_EQ(keychain->read(s->id, "alice").text(), "p4ss-word");
    EXPECT_EQ(keychain->read(s->id + ".SS", "").text(), "s3cret-psk");
    EXPECT_EQ(l2tp.getExistingVPNConnectionProtocolType("Havenway"), 2);
    EXPECT_FALSE(log->contains("p4ss-word"));
    EXPECT_FALSE(log->contains("s3cret-psk"));

    // A second creation reuses the service and updates its password.
    const auto id = *c.serviceID();
    c.password = "n3w";
    EXPECT_EQ(l2tp.createAndConnect(c, {}), 0);
    EXPECT_EQ(store->serviceCount(), 1u);
    EXPECT_EQ(c.serviceID(), id);
    EXPECT_EQ(keychain->read(id, "alice").text(), "n3w");

    auto pptpStore = std::make_shared<FakeSystemVPNServiceStore>();
    auto pptpKeys = std::make_shared<test::FakeSecretStore>();
    PPTPConnector pptp(pptpStore, pptpKeys);
    auto p = test::sampleServiceConfig(VPNTypesPPTP);
    EXPECT_EQ(pptp.createAndConnect(p, {}), 0);
    EXPECT_TRUE(pptpStore->committed("Havenway")->extended.empty());
    EXPECT_EQ(pptpKeys->size(), 1u);
}

TEST_F(SystemVPNConnectorTest, EveryFailedStepAnswersItsNumberAndCommitsNothing) {
    const std::pair<const char*, std::int32_t> steps[] = {
        {"open", 31}, {"lock", 31},         {"interface", 33}, {"extended", 35}, {"default", 36},
        {"set", 37},  {"add", 38}, {"ipv4protocol", 39}, {"ipv4", 40},      {"commit", 41},
        {"apply", 42}, {"keychain", 63}, {"noKeychain", 60},
    };
    for (auto [step, code] : steps) {
        SCOPED_TRACE(step);
        auto fresh = std::make_shared<FakeSystemVPNServiceStore>();
        auto keys = std::make_shared<test::FakeSecretStore>();
        fresh->failing = {step};
        keys->failWrites = std::string(step) == "keychain";
        L2TPConnector connector(fresh, std::string(step) == "noKeychain" ? nullptr : keys);
        auto c = test::sampleServiceConfig(VPNTypesL2TP);
        bool called = false;
        EXPECT_EQ(connector.createAndConnect(c, [&] { called = true; }), code);
        EXPECT_FALSE(called);
        if (code != 42) {
            EXPECT_EQ(fresh->serviceCount(), 0u);
        }
    }
}

TEST_F(SystemVPNConnectorTest, FindsAndRemovesOnlyTheExactName) {
    store->addService("Havenway", SystemVPNInterfaceType::PPTP);
    store->addService("Other", SystemVPNInterfaceType::L2TP).unreadableProtocols = true;
    PPTPConnector connector(store);
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("Havenway"), 3);
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("havenway"), -1);
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("Other"), -1);
    connector.deleteExistingVPNService("Nothing");
    EXPECT_EQ(store->commits, 0);
    connector.deleteExistingVPNService("Havenway");
    EXPECT_EQ(store->committed("Havenway"), nullptr);
    EXPECT_NE(store->committed("Other"), nullptr);
    store->failing = {"open"};
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("Other"), -1);
}

TEST_F(SystemVPNConnectorTest, WatchReportsTheCurrentStatusFirstThenEachChangeWithItsCause) {
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::L2TP);
    auto conn = store->connection(s.id);
    conn->currentStatus = 1;
    conn->extended.pppStatus = 8;  // the PPP phase says connected
    L2TPConnector connector(store);
    test::StatusRecorder rec;
    auto block = rec.connectorCallback();
    EXPECT_EQ(connector.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", block, false), 2);
    ASSERT_EQ(rec.waitFor(1).size(), 1u);
    conn->extended.pppStatus = 0;
    EXPECT_EQ(connector.retrieveConnection("Havenway"), 0);
    conn->extended.pppStatus = 5;
    EXPECT_EQ(connector.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", block, true), 1);
    conn->emit(3);
    conn->extended.lastCause = 19;
    conn->emit(0);
    auto reports = rec.waitFor(3);
    EXPECT_EQ(reports, (std::vector<std::string>{"2/2", "3/2", "0:19/2"}));
    EXPECT_NE(rec.firstThread, std::this_thread::get_id());

    connector.stopConnectionStatusUpdates();
    EXPECT_FALSE(conn->hasCallback());
    conn->emit(2);
    connector.startDialCurrentConnection([] { FAIL() << "nothing to dial"; });
    EXPECT_EQ(rec.reports().size(), 3u);

    test::StatusRecorder missing;
    EXPECT_EQ(connector.retrieveConnectionAndSubscribeToStatusUpdates("Gone", missing.connectorCallback(), false), -1);
    EXPECT_EQ(missing.waitFor(1), std::vector<std::string>{"-1/2"});
}

TEST_F(SystemVPNConnectorTest, DialStartsAndDisconnectForcesTheWatchedConnection) {
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::L2TP);
    auto conn = store->connection(s.id);
    L2TPConnector connector(store);
    connector.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", {}, true);
    int dialled = 0;
    connector.startDialCurrentConnection([&] { ++dialled; });
    conn->failStart = true;
    connector.startDialCurrentConnection([&] { ++dialled; });
    EXPECT_EQ(conn->starts, 2);
    EXPECT_EQ(dialled, 1);
    connector.disconnect([] { FAIL() << "disconnect never calls its block"; });
    EXPECT_EQ(conn->stops, std::vector<bool>{true});
}

// A start the system refuses changes no status: the connector itself ends
// the attempt, with the recorded cause unless that would read as a
// disconnect the user asked for.
TEST_F(SystemVPNConnectorTest, ARefusedDialEndsTheAttemptWithItsCause) {
    struct Row {
        const char* name;
        std::optional<std::int64_t> lastCause;
        std::string report;
    };
    for (const Row& row : {Row{"NoCause", std::nullopt, "0:1/2"}, Row{"NoKernelSupport", 4, "0:4/2"},
                           Row{"StaleUserRequest", 5, "0:1/2"}, Row{"StaleNoError", 0, "0:1/2"}}) {
        auto& s = store->addService(std::string("Havenway") + row.name, SystemVPNInterfaceType::L2TP);
        auto conn = store->connection(s.id);
        conn->failStart = true;
        conn->extended.lastCause = row.lastCause;
        L2TPConnector connector(store);
        test::StatusRecorder rec;
        connector.retrieveConnectionAndSubscribeToStatusUpdates(s.name, rec.connectorCallback(), true);
        connector.startDialCurrentConnection([] { FAIL() << "a refused start is no start"; });
        EXPECT_EQ(rec.waitFor(1), std::vector<std::string>{row.report}) << row.name;
    }
}

TEST_F(SystemVPNConnectorTest, ConnectStartsTheNamedServiceOnly) {
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::L2TP);
    auto conn = store->connection(s.id);
    L2TP_VPNConnectionProvider provider(store);
    VPNServiceConfig config;
    config.name = "Havenway";
    int connected = 0;
    provider.connect(config, [&] { ++connected; }, {});
    EXPECT_EQ(conn->starts, 1);
    L2TPConnector connector(store);
    connector.connect(std::nullopt, [&] { ++connected; }, {});
    connector.connect("Missing", [&] { ++connected; }, {});
    EXPECT_EQ(connected, 1);
}

}  // namespace
}  // namespace hw
