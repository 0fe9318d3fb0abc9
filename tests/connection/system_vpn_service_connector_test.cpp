#include <gtest/gtest.h>

#include "connection/l2tp_connector.h"
#include "connection/pptp_connector.h"
#include "sample_service_config.h"
#include "status_recorder.h"
#include "support/capture_log.h"
#include "support/fake_secret_store.h"
#include "support/fake_system_vpn_service.h"

namespace hw {
namespace {

using test::FakeSystemVPNServiceStore;
using Report = test::StatusRecorder::Report;

VPNServiceConfig config(std::int64_t type) { return test::sampleServiceConfig(type); }

struct SystemVPNConnectorTest : ::testing::Test {
    std::shared_ptr<FakeSystemVPNServiceStore> store = std::make_shared<FakeSystemVPNServiceStore>();
    std::shared_ptr<test::FakeSecretStore> keychain = std::make_shared<test::FakeSecretStore>();
    std::shared_ptr<test::CaptureLog> log = test::CaptureLog::install();
    ~SystemVPNConnectorTest() override { hw::log::setSink(nullptr); }
};

// --- creation ------------------------------------------------------------

TEST_F(SystemVPNConnectorTest, CreatesAnL2TPServiceWithItsSecretsInTheKeychain) {
    L2TPConnector connector(store, keychain);
    auto c = config(VPNTypesL2TP);
    bool called = false;
    EXPECT_EQ(connector.createAndConnect(c, [&] { called = true; }), 0);
    EXPECT_TRUE(called);
    const auto* s = store->committed("Havenway");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(c.serviceID(), s->id);
    EXPECT_EQ(s->type, SystemVPNInterfaceType::L2TP);
    EXPECT_EQ(s->interfaceConfig, c.L2TP_PPPConfig());
    EXPECT_EQ(s->extended.at("IPSec"), c.L2TPIPSecConfig());
    EXPECT_EQ(s->ipv4, VPNServiceConfig::L2TPIPv4Config());
    EXPECT_EQ(keychain->read(s->id, "alice").text(), "p4ss-word");
    EXPECT_EQ(keychain->read(s->id + ".SS", "").text(), "s3cret-psk");
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("Havenway"), 2);
    EXPECT_FALSE(log->contains("p4ss-word"));
    EXPECT_FALSE(log->contains("s3cret-psk"));
}

TEST_F(SystemVPNConnectorTest, CreatesAPPTPServiceWithoutIPSec) {
    PPTPConnector connector(store, keychain);
    auto c = config(VPNTypesPPTP);
    EXPECT_EQ(connector.createAndConnect(c, {}), 0);
    const auto* s = store->committed("Havenway");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->interfaceConfig, c.PPTP_PPPConfig());
    EXPECT_TRUE(s->extended.empty());
    EXPECT_EQ(keychain->size(), 1u);
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("Havenway"), 3);
}

TEST_F(SystemVPNConnectorTest, SecondCreationReusesTheServiceAndUpdatesItsSecrets) {
    L2TPConnector connector(store, keychain);
    auto c = config(VPNTypesL2TP);
    ASSERT_EQ(connector.createAndConnect(c, {}), 0);
    auto id = *c.serviceID();
    c.password = "n3w";
    EXPECT_EQ(connector.createAndConnect(c, {}), 0);
    EXPECT_EQ(store->serviceCount(), 1u);
    EXPECT_EQ(c.serviceID(), id);
    EXPECT_EQ(keychain->read(id, "alice").text(), "n3w");
    EXPECT_EQ(keychain->size(), 2u);
    EXPECT_TRUE(log->contains("because it already exists"));
}

TEST_F(SystemVPNConnectorTest, EveryFailedStepAnswersItsNumberAndCommitsNothing) {
    const std::pair<const char*, std::int32_t> steps[] = {
        {"open", 31},   {"lock", 31}, {"interface", 33},    {"extended", 35}, {"default", 36}, {"set", 37},
        {"add", 38},    {"ipv4protocol", 39}, {"ipv4", 40}, {"commit", 41},
    };
    for (auto [step, code] : steps) {
        SCOPED_TRACE(step);
        auto fresh = std::make_shared<FakeSystemVPNServiceStore>();
        fresh->failing = {step};
        L2TPConnector connector(fresh, keychain);
        auto c = config(VPNTypesL2TP);
        bool called = false;
        EXPECT_EQ(connector.createAndConnect(c, [&] { called = true; }), code);
        EXPECT_FALSE(called);
        EXPECT_EQ(fresh->serviceCount(), 0u);
    }
    store->failing = {"apply"};
    L2TPConnector connector(store, keychain);
    auto c = config(VPNTypesL2TP);
    EXPECT_EQ(connector.createAndConnect(c, {}), 42);
}

TEST_F(SystemVPNConnectorTest, AFailedKeychainIsAFailedCreation) {
    keychain->failWrites = true;
    PPTPConnector connector(store, keychain);
    auto c = config(VPNTypesPPTP);
    EXPECT_EQ(connector.createAndConnect(c, {}), 63);
    EXPECT_EQ(store->serviceCount(), 0u);
    PPTPConnector noKeychain(store, nullptr);
    EXPECT_EQ(noKeychain.createAndConnect(c, {}), 60);
}

// --- finding and removing -------------------------------------------------------

TEST_F(SystemVPNConnectorTest, ProtocolTypeByExactName) {
    store->addService("Havenway", SystemVPNInterfaceType::PPTP);
    store->addService("Other", SystemVPNInterfaceType::L2TP).unreadableProtocols = true;
    L2TPConnector connector(store);
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("Havenway"), 3);
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("havenway"), -1);
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("Other"), -1);
    store->failing = {"open"};
    EXPECT_EQ(connector.getExistingVPNConnectionProtocolType("Havenway"), -1);
}

TEST_F(SystemVPNConnectorTest, DeleteRemovesOnlyTheNamedService) {
    store->addService("Havenway", SystemVPNInterfaceType::L2TP);
    store->addService("Other", SystemVPNInterfaceType::PPTP);
    PPTPConnector connector(store);
    connector.deleteExistingVPNService("Nothing");
    EXPECT_EQ(store->commits, 0);
    connector.deleteExistingVPNService("Havenway");
    EXPECT_EQ(store->committed("Havenway"), nullptr);
    EXPECT_NE(store->committed("Other"), nullptr);
}

// --- watching -------------------------------------------------------------------

TEST_F(SystemVPNConnectorTest, RetrieveMapsThePPPPhaseAndReportsTheCurrentStatusFirst) {
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::L2TP);
    auto conn = store->connection(s.id);
    conn->currentStatus = 1;
    conn->extended.pppStatus = 8;
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
    auto reports = rec.waitFor(2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], (Report{2, std::nullopt, 2, {}}));
    EXPECT_EQ(reports[1], (Report{3, std::nullopt, 2, {}}));
    EXPECT_NE(reports[0].thread, std::this_thread::get_id());
}

TEST_F(SystemVPNConnectorTest, DisconnectReportsThePPPLastCauseAsItsMessage) {
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::PPTP);
    auto conn = store->connection(s.id);
    PPTPConnector connector(store);
    test::StatusRecorder rec;
    auto block = rec.connectorCallback();
    connector.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", block, true);
    conn->emit(1);
    conn->emit(2);
    conn->extended.lastCause = 19;
    conn->emit(0);
    auto reports = rec.waitFor(3);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], (Report{1, std::nullopt, 3, {}}));
    EXPECT_EQ(reports[1], (Report{2, std::nullopt, 3, {}}));
    EXPECT_EQ(reports[2], (Report{0, std::string("19"), 3, {}}));
}

TEST_F(SystemVPNConnectorTest, NoReportsAfterTheWatchStops) {
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::PPTP);
    auto conn = store->connection(s.id);
    PPTPConnector connector(store);
    test::StatusRecorder rec;
    auto block = rec.connectorCallback();
    connector.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", block, false);
    rec.waitFor(1);
    connector.stopConnectionStatusUpdates();
    EXPECT_FALSE(conn->hasCallback());
    EXPECT_FALSE(connector.isWatching());
    conn->emit(2);
    connector.startDialCurrentConnection([] { FAIL() << "nothing to dial"; });
    EXPECT_EQ(rec.reports().size(), 1u);
}

TEST_F(SystemVPNConnectorTest, MissingServiceReportsInvalidOnce) {
    PPTPConnector connector(store);
    test::StatusRecorder rec;
    auto block = rec.connectorCallback();
    EXPECT_EQ(connector.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", block, false), -1);
    auto reports = rec.waitFor(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], (Report{-1, std::nullopt, 3, {}}));
}

TEST_F(SystemVPNConnectorTest, DialStartsAndDisconnectForcesTheWatchedConnection) {
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::L2TP);
    auto conn = store->connection(s.id);
    L2TPConnector connector(store);
    connector.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", {}, true);
    int dialled = 0;
    connector.startDialCurrentConnection([&] { ++dialled; });
    EXPECT_EQ(conn->starts, 1);
    EXPECT_EQ(dialled, 1);
    conn->failStart = true;
    connector.startDialCurrentConnection([&] { ++dialled; });
    EXPECT_EQ(dialled, 1);
    EXPECT_TRUE(log->contains("SCNetworkConnectionStart failed: 5"));
    connector.disconnect([] { FAIL() << "disconnect never calls its block"; });
    EXPECT_EQ(conn->stops, std::vector<bool>{true});
}

TEST_F(SystemVPNConnectorTest, ConnectStartsTheNamedServiceAndWatchesIt) {
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::L2TP);
    auto conn = store->connection(s.id);
    L2TPConnector connector(store);
    test::StatusRecorder rec;
    bool connected = false;
    connector.connect("Havenway", [&] { connected = true; }, rec.connectorCallback());
    EXPECT_TRUE(connected);
    EXPECT_EQ(conn->starts, 1);
    conn->emit(2);
    EXPECT_EQ(rec.waitFor(1).at(0), (Report{2, std::nullopt, 2, {}}));
    connected = false;
    connector.connect(std::nullopt, [&] { connected = true; }, {});
    connector.connect("Missing", [&] { connected = true; }, {});
    EXPECT_FALSE(connected);
}

}  // namespace
}  // namespace hw
