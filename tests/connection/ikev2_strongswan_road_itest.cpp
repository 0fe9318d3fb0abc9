// The whole IKEv2 road: the provider and its connector in the app, the
// helper's dispatcher and IKE service behind a real helper socket, the
// service's charon in the client namespace, a strongSwan responder in the
// server's.
#include <gtest/gtest.h>

#include <future>

#include "connection/ikev2_strongswan_connection_provider.h"
#include "connection/vpn_service_config.h"
#include "ikev2_strongswan_fixture.h"
#include "helper/command_dispatcher.h"
#include "helper/ike/ike_helper_channel.h"
#include "support/ike_testbed.h"
#include "platform/helper_server.h"
#include "platform/helper_socket.h"
#include "support/capture_log.h"
#include "support/thread_queue.h"

namespace hw {
namespace {

using namespace std::chrono_literals;

class StrongSwanRoad : public ike::road::RoadSuite {
protected:
    void SetUp() override {
        if (!bed_->why.empty()) GTEST_SKIP() << bed_->why;
        ike::IkeServiceOptions o;
        o.caPath = bed_->dir + "/ca.pem";
        o.charon.workDir = bed_->dir + "/app" + std::to_string(++counter_);
        o.charon.netnsPath = "/run/netns/" + bed_->clientNs;
        o.charon.retransmitTries = 2;
        o.charon.retransmitTimeoutSeconds = 4;
        o.initiateTimeout = 30s;
        context_.intentional = true;  // no reconnects in this test
        // The helper's reader thread may hold the service last and end it
        // there; TearDown waits for that before the suite's runner goes.
        destroyed_ = std::make_shared<std::promise<void>>();
        ike::registerIkeCommands(dispatcher_, std::shared_ptr<ike::IkeService>(new ike::IkeService(o, bed_->runner),
                                                                              [done = destroyed_](ike::IkeService* s) {
                                                                                  delete s;
                                                                                  done->set_value();
                                                                              }));

        server_ = std::make_unique<HelperServer>(HelperServer::Options{}, [this](HelperRequest r) { dispatcher_.dispatch(std::move(r)); });
        auto [app, helper] = makeHelperSocketPair();
        ASSERT_TRUE(server_->adopt(std::move(helper)));
        serverThread_ = std::thread([this] { server_->run(); });
        connection_ = std::make_shared<HelperConnection>(queue_);
        connection_->adopt(std::move(app));
        tool_ = std::make_unique<HelperTool_XPC_Connector>(queue_, [this](std::string*) { return connection_; });
        provider_ = std::make_unique<IKEv2_StrongSwan_ConnectionProvider>(queue_, *tool_, context_);
        queue_.sync([this] {
            provider_->retrieveConnectionAndSubscribeToStatusUpdates("Havenway_IKEv2", [this](std::int32_t s, const std::optional<std::string>&, VPNTypes) {
                std::lock_guard lock(mutex_);
                statuses_.push_back(s);
                cv_.notify_all();
            }, false);
        });
    }
    void TearDown() override {
        if (!provider_) return;
        queue_.sync([this] { provider_.reset(); });
        connection_->cancel();
        server_->stop();
        serverThread_.join();
        dispatcher_ = helper::CommandDispatcher();  // ends the IKE service and its charon
        EXPECT_EQ(destroyed_->get_future().wait_for(30s), std::future_status::ready);
        server_.reset();
    }
    bool waitStatus(std::int32_t status, std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] {
            for (auto s : statuses_) if (s == status) return true;
            return false;
        });
    }
    std::vector<std::int32_t> statuses() {
        std::lock_guard lock(mutex_);
        return statuses_;
    }
    void connect(const std::string& password) {
        context_.login = IKEv2LoginData{ike::road::kUser, password};
        VPNServiceConfig config;
        config.type = VPNTypesIKEv2_StrongSwan;
        config.setEndpoint(std::string(ike::road::kServerName));
        config.endpointIPAddress = ike::road::kServerIp;
        queue_.sync([&] { provider_->connect(config, {}, {}); });
    }

    test::ThreadQueue queue_;
    helper::CommandDispatcher dispatcher_;
    std::unique_ptr<HelperServer> server_;
    std::thread serverThread_;
    std::shared_ptr<HelperConnection> connection_;
    std::unique_ptr<HelperTool_XPC_Connector> tool_;
    test::FakeIKEv2Context context_;
    std::unique_ptr<IKEv2_StrongSwan_ConnectionProvider> provider_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::int32_t> statuses_;
    std::shared_ptr<std::promise<void>> destroyed_;
};

TEST_F(StrongSwanRoad, ConnectsAndDisconnectsThroughTheHelper) {
    auto log = test::CaptureLog::install();
    connect(ike::road::kGoodPassword);
    ASSERT_TRUE(waitStatus(2, 15s)) << testing::PrintToString(statuses());
    EXPECT_EQ(statuses(), (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(ike::road::responderSaCount(*bed_), 1);

    queue_.sync([this] { provider_->disconnect({}); });
    ASSERT_TRUE(waitStatus(0, 15s));
    EXPECT_EQ(ike::road::responderSaCount(*bed_), 0);
    log::setSink(nullptr);
    EXPECT_FALSE(log->contains(ike::road::kGoodPassword));
}

TEST_F(StrongSwanRoad, WrongPasswordEndsInTheClientAuthenticationAlert) {
    auto log = test::CaptureLog::install();
    connect("not-the-password");
    ASSERT_TRUE(waitStatus(0, 30s)) << testing::PrintToString(statuses());
    EXPECT_EQ(statuses(), (std::vector<std::int32_t>{1, 0}));
    log::setSink(nullptr);
    EXPECT_TRUE(log->contains("IKEv2 StrongSwan ALERT: Client authentication failed"));
    EXPECT_FALSE(log->contains("not-the-password"));
}

}  // namespace
}  // namespace hw
