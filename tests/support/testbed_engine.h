#pragma once
// The engine as the demo runs it: the hub on the real services and the
// connection manager on the real helper, in the testbed's client namespace,
// against the testbed's backend and VPN servers (scripts/testbed up, as
// root). Shared by the end-to-end tests and the connect benchmark.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "../../testbed/openvpn/openvpn_testbed.h"
#include "connection/system_vpn_service_helper.h"
#include "connection/vpn_connection_manager_engine.h"
#include "core/global_constants.h"
#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "platform/posix_process_runner.h"
#include "platform/system_clock.h"
#include "platform/thread_pool.h"
#include "services/locations_list_model.h"
#include "services/vpn_parse_config.h"
#include "support/fake_helper_install.h"
#include "support/fake_image_codec.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/protocol_choice.h"
#include "support/temp_dir.h"
#include "testbed/testbed_env.h"

// Last: Qt's keyword macros would clash with the engine's names.
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "support/qt_test_app.h"
#include "support/testbed_sign_in.h"

namespace hw::test {

// One DNS question from the calling thread's namespace; true when address
// answered within the bound.
inline bool nameServerAnswers(const std::string& address, int boundMs = 1000) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(53);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    const unsigned char query[] = {0x12, 0x34, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0, 5, 'p', 'r', 'o', 'b', 'e', 0, 0, 1, 0, 1};
    bool answered = false;
    if (::sendto(fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == sizeof query) {
        pollfd p{fd, POLLIN, 0};
        answered = ::poll(&p, 1, boundMs) == 1;
    }
    ::close(fd);
    return answered;
}

// The link the default route leaves by, or empty.
inline std::string defaultRouteLink(ProcessRunner& runner) {
    ProcessRequest r;
    r.argv = {"ip", "-o", "route", "show", "default"};
    r.timeout = std::chrono::seconds(5);
    const std::string out = runner.run(r).out;
    const auto at = out.find(" dev ");
    if (at == std::string::npos) return {};
    const auto end = out.find(' ', at + 5);
    return out.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5);
}

// Milliseconds until the tunnel's far end answers through it, or nothing
// within the bound; the main queue runs meanwhile.
inline std::optional<long> msUntilTheTunnelCarries(const std::string& farEnd, int boundMs) {
    const auto start = std::chrono::steady_clock::now();
    if (!spinUntil([&] { return nameServerAnswers(farEnd, 500); }, boundMs)) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

class TestbedEngine {
public:
    // Why the engine cannot run here, or empty. Moves the calling thread into
    // the client namespace: call it first, before any socket or thread.
    std::string enter() {
        auto loaded = TestbedEnv::load();
        if (!loaded) return "testbed not up (run scripts/testbed up): no " + TestbedEnv::path();
        env = *loaded;
        if (env.get("HAVENWAY_TESTBED_CLIENT_NETNS").empty()) return "the testbed runs no VPN servers (it needs root)";
        helperBinary_ = std::string(HW_BINARY_DIR) + "/helper/havenway-helper";
        if (::access(helperBinary_.c_str(), X_OK) != 0) return "no helper executable at " + helperBinary_;
        if (!NetnsRig::enter(env.get("HAVENWAY_TESTBED_CLIENT_NETNS"))) return "cannot enter the client namespace";
        return {};
    }

    // enter(), and then openvpn, which resolves its server through the system's
    // resolver, asks the testbed's name server: this process and its helper get a
    // mount namespace of their own, and the machine's file stays as it is.
    std::string enterWithTestbedResolver() {
        if (std::string why = enter(); !why.empty()) return why;
        if (::unshare(CLONE_NEWNS) != 0) return std::string("no private mount namespace: ") + std::strerror(errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "cannot make / private";
        static const std::string file =
            std::filesystem::temp_directory_path() / ("hw_testbed_resolv_" + std::to_string(::getpid()) + ".conf");
        std::ofstream(file) << "nameserver " << env.get("HAVENWAY_TESTBED_VPN_SERVER") << "\n";
        if (::mount(file.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
            return std::string("cannot bind the resolver file: ") + std::strerror(errno);
        return {};
    }

    // The helper, the hub and its engine, signed in with the demo account and
    // with the required data loaded; empty when ready, else what failed.
    std::string start() {
        // Made here, inside the namespace: the threads they start stay in it.
        qtTestApp();
        queue_ = std::make_unique<QtMainQueue>();
        background_ = std::make_unique<ThreadPool>(2);
        installer_ = std::make_unique<FakeHelperInstaller>(*queue_);
        env.exportToEnvironment();
        for (const char* xdg : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "HAVENWAY_DATA_DIR"})
            ::setenv(xdg, dir.file(xdg).c_str(), 1);
        TempDir::write(dir.file("resolv.conf"), "nameserver " + env.get("HAVENWAY_TESTBED_VPN_SERVER") + "\n");
        // The helper's run folder, which a system's own start-up would have made.
        ::mkdir(dir.file("run").c_str(), 0700);
        socket_ = testbed::startHelper(helperBinary_, dir.path(), helper_);
        if (socket_.empty()) return "the helper did not start: " + helperLog();
        const std::string bundled = testbed::helperVersion(helperBinary_, dir.path());
        jobs.jobs[HelperTool_XPC_Connector::kServiceName] = helperBinary_;
        bundled_ = bundled;
        settings.registerDefaults(SettingsUserDefaults::defaults());
        system.serial = "TESTBED00001";
        return startApp(false);
    }

    // The application's side as a launch makes it, on the helper that runs;
    // adoptFirst: the launch takes over an openvpn left running (keeping a
    // lock left engaged) before it signs in, as after a crash.
    std::string startApp(bool adoptFirst) {
        const std::string bundled = bundled_;
        auto& queue = *queue_;
        auto& background = *background_;
        http = std::make_unique<QtHttpClient>(queue);
        ParseClientConfig c;
        c.applicationId = env.get("HAVENWAY_TESTBED_APP_ID");
        c.clientKey = env.get("HAVENWAY_TESTBED_CLIENT_KEY");
        c.serverURL = env.parseUrl();
        c.secretService = "com.havenway.testbed-engine";
        c.requestTimeoutMs = 15000;
        parse = std::make_unique<ParseClient>(c, *http, queue, secrets, settings);
        connector = std::make_unique<HelperTool_XPC_Connector>(queue, [this](std::string* error) {
            auto connection = std::make_shared<HelperConnection>(*queue_);
            return connection->connect(socket_, error) ? connection : nullptr;
        });
        auto makeManager = [this, bundled](ServiceLayer& hub) {
            return VPNConnectionEngine::makeManager(VPNConnectionEngineParts{
                *queue_, *background_, clock, hub.appModel(), *parse, "Linux", runner, *connector, jobs, *installer_, bundled,
                std::make_shared<HelperSystemVPNServiceStore>(makeHelperSocketCall(socket_, std::chrono::seconds(5))),
                nullptr, nullptr});
        };
        factory = std::make_shared<DefaultServiceLayerFactory>(
            ServiceLayerPlatform{queue, background, settings, secrets, *http, *parse, system, codec, nullptr, nullptr, nullptr},
            makeManager);
        hub = std::make_unique<ServiceLayer>(factory);
        hub->prepareApplication();
        adopted.reset();
        if (adoptFirst) {
            auto& launched = hub->vpnConnectionManager();
            if (!launched) return "the hub made no connection manager at launch";
            // In the launch's order: the manager is prepared before it looks for what runs.
            launched->prepareConnectionManager();
            launched->keepNetworkLockLeftFromEarlierRun();
            launched->adoptRunningTunnel([this](bool a) { adopted = a; });
            if (!spinUntil([&] { return adopted.has_value(); }, 10000)) return "the take-over never ended";
        }
        signInStarted = std::chrono::steady_clock::now();
        const auto why = signInAndLoad(*hub, env.get("HAVENWAY_TESTBED_DEMO_USER"), env.get("HAVENWAY_TESTBED_DEMO_PASSWORD"));
        if (!why.empty()) return why;
        // As the application marks its user once signed in: the connection's
        // life takes a signed-out one's reports as the end of everything.
        model().isLoggedInUser = true;

        manager = hub->vpnConnectionManager();
        if (!manager) return "the hub made no connection manager";
        // Once, as the application's launch does: from here on a protocol
        // changes only through the state object's notification.
        manager->prepareConnectionManager();
        // The reports reach the bed as they reach a window: the connection's
        // life takes each first and drops what no try of its own (a take-over
        // included) asked for.
        ConnectionStatusViews views;
        views.established = [this] { events.push_back("established"); };
        views.error = [this](const std::string& t, ErrorLook) { events.push_back("error:" + t); };
        views.refused = [this](const std::string& t) { events.push_back("error:" + t); };
        views.disconnected = [this](bool, bool) { events.push_back("disconnected"); };
        ConnectionStatusHooks hooks = manager->connectionLife().wrap(std::move(views));
        manager->onConnectionEstablishedNotification = std::move(hooks.established);
        manager->onConnectionErrorNotification = std::move(hooks.error);
        manager->onConnectionRefusedNotification = std::move(hooks.refused);
        manager->onDisconnectedStateNotification = std::move(hooks.disconnected);
        manager->onTunnelDownNotification = [this] { tunnelDown_ = true; };
        return {};
    }

    // A Connect of the user's opens its attempt and its try in the
    // connection's life, as the pane does before it asks the engine.
    void beginTry() {
        manager->beginUserConnect();
        ConnectionLife& life = manager->connectionLife().life();
        life.begin(ConnectionLife::Origin::user);
        life.tryStarted();
    }

    // The application dies as under kill -9: nothing is torn down, and what
    // the helper started lives on.
    void crashApp() {
        if (manager) manager->onConnectionEstablishedNotification = nullptr;
        manager.reset();
        hub.reset();
        factory.reset();
        connector.reset();
        parse.reset();
        http.reset();
    }

    // Stops everything it started and undoes what the helper changed.
    void stop() {
        if (manager) {
            manager->disconnect();
            manager->disableNetworkLock();
            spinFor(300);
            manager->shutDown();
            spinFor(200);
        }
        crashApp();
        background_.reset();
        helper_.stop();
        if (!socket_.empty()) {
            auto environment = testbed::helperEnvironment(dir.path());
            environment.push_back("ASAN_OPTIONS=detect_leaks=0");
            ChildProcess reset({helperBinary_, "--reset"}, dir.file("helper.log"), environment);
            waitFor([&] { return !reset.running(); }, std::chrono::seconds(20));
            socket_.clear();
        }
    }

    ApplicationModel& model() { return hub->appModel(); }

    // How often the testbed's name server logged a question asked at that
    // address from a source starting with the prefix.
    long dnsQuestions(const std::string& at, const std::string& fromPrefix) const {
        const std::string log = TempDir::read(env.get("HAVENWAY_TESTBED_DNS_LOG"));
        const std::string needle = " at " + at + " from " + fromPrefix;
        long n = 0;
        for (auto i = log.find(needle); i != std::string::npos; i = log.find(needle, i + 1)) ++n;
        return n;
    }

    // The seeded location of the country, its server's name resolved the way
    // the application resolves it.
    std::shared_ptr<VPNParseConfig> location(const std::string& countryCode) {
        const auto& list = model().locationsListModel();
        if (!list) return nullptr;
        for (const auto& item : list->items()) {
            if (!item->vpnConfig || item->vpnConfig->countryCode != countryCode) continue;
            const auto host = item->vpnConfig->serverHostName(model().vpnServersDomainSuffix);
            // Under the lock only the helper's own lookups go out: the address
            // found before the lock stands.
            const auto address = DNSServerHostResolver::resolveNow(host, {GlobalConstants::dnsResolver()});
            if (!address && model().networkLockActivated && !item->vpnConfig->vpnServerIPAddress.empty())
                return item->vpnConfig;
            if (!address || !item->vpnConfig->setVPNServerIPAddress(*address)) return nullptr;
            return item->vpnConfig;
        }
        return nullptr;
    }

    // Chooses the protocol the way the Protocol pane's Apply does.
    void chooseProtocol(VPNTypes protocol) { applyProtocolChoice(model(), *manager, protocol); }

    // How often the helper's log shows each command that starts a tunnel.
    std::map<std::string, long> tunnelCommands() const {
        std::map<std::string, long> counts;
        const std::string log = helperLog();
        for (const char* command : {"createOpenVPNConnection", "start_connection", "connectToVPN"}) {
            const std::string needle = std::string(": ") + command + " from uid";
            for (auto at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++counts[command];
        }
        return counts;
    }

    // Connects to the country's location with the protocol; true once the
    // manager reports the tunnel established. connectedOver and commandUsed
    // then say which provider carried it and which helper command started it.
    bool connect(VPNTypes protocol, const std::string& countryCode = "NL", int boundMs = 45000) {
        auto config = location(countryCode);
        if (!config) return false;
        chooseProtocol(protocol);
        beginTry();
        return connectNow(*config, boundMs);
    }

    // The kill switch's road, as the details pane takes it: the server's host
    // in the protocol's form, looked up through the public resolvers, its
    // route and the lock, then the connect; true once established.
    bool connectLocked(VPNTypes protocol, const std::string& countryCode = "NL", int boundMs = 45000) {
        auto config = location(countryCode);
        if (!config) return false;
        chooseProtocol(protocol);
        model().setUseNetworkLock(true);
        // The lock's road is the try's own.
        beginTry();
        const std::string host = config->serverHostName(
            protocol == VPNTypesIKEv2_StrongSwan ? model().vpnServersDomainSuffix : model().mainDomainName);
        std::optional<std::string> locked;
        manager->enableNetworkLock(host, env.get("HAVENWAY_TESTBED_CLIENT_GATEWAY"), GlobalConstants::primaryDNS,
                                   GlobalConstants::secondaryDNS, [&](const std::string& a) { locked = a; });
        if (!spinUntil([&] { return locked.has_value(); }, boundMs) || !config->setVPNServerIPAddress(*locked)) return false;
        model().networkLockActivated = true;
        return connectNow(*config, boundMs);
    }

    std::optional<VPNTypes> connectedOver;
    std::string commandUsed;

private:
    bool connectNow(const VPNParseConfig& config, int boundMs) {
        events.clear();
        connectedOver.reset();
        commandUsed.clear();
        const auto before = tunnelCommands();
        manager->connect(managerServerConfig(config, model()));
        const bool up = spinUntil([&] { return !events.empty(); }, boundMs) && events.front() == "established";
        if (manager->currentProvider()) connectedOver = manager->currentProvider()->type();
        commandUsed = tunnelCommandsSince(before);
        return up;
    }

public:
    // The tunnel commands the helper took since the counts were read, comma-separated.
    std::string tunnelCommandsSince(const std::map<std::string, long>& before) const {
        std::string used;
        for (const auto& [command, count] : tunnelCommands()) {
            const auto was = before.find(command);
            if (count > (was == before.end() ? 0 : was->second)) used += (used.empty() ? "" : ",") + command;
        }
        return used;
    }

    void releaseLock() {
        manager->disableNetworkLock();
        model().networkLockActivated = false;
        model().setUseNetworkLock(false);
    }

    // The user's Disconnect as the pane gives it: the attempt ends first, so
    // nothing of it is tried again and its tunnel's reports are stale. True
    // once a tunnel that was up is down.
    bool disconnect() {
        events.clear();
        ConnectionLife& life = manager->connectionLife().life();
        const bool up = life.state() == ConnectionLife::State::connected;
        tunnelDown_ = false;
        life.cancel();
        manager->disconnect();
        return !up || spinUntil([&] { return tunnelDown_; }, 20000);
    }

    // Whether an openvpn runs in this namespace (one asked to stop takes its
    // routes away as it exits, after the manager has reported the end).
    bool openvpnRuns() {
        ProcessRequest r;
        r.argv = {"pgrep", "-x", "--ns", std::to_string(::getpid()), "--nslist", "net", "openvpn"};
        r.timeout = std::chrono::seconds(5);
        return runner.run(r).ok();
    }

    // The public address the testbed's lookup reports, asked afresh.
    std::optional<std::string> publicAddress() {
        model().userPublicIP.reset();
        bool done = false;
        hub->refreshUserIPAddress([&] { done = true; });
        if (!spinUntil([&] { return done; }, 20000)) return std::nullopt;
        return model().userPublicIP;
    }

    // Routes of every table, IPv6 on or off per link, and the helper's DNS
    // file. Left out: link-local addresses, which come and go with IPv6
    // itself, and the user-space ESP device, which lives as long as the
    // helper's charon rather than the connection.
    std::string networkState() {
        ProcessRequest r;
        r.argv = {"ip", "route", "show", "table", "all"};
        r.timeout = std::chrono::seconds(5);
        std::string state;
        auto keep = [&](const std::string& text) {
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);)
                if (line.rfind("local fe80::", 0) != 0 && line.find("ipsec0") == std::string::npos) state += line + "\n";
        };
        keep(runner.run(r).out);
        r.argv = {"sysctl", "-a", "-r", "^net\\.ipv6\\.conf\\..*\\.disable_ipv6$"};
        keep(runner.run(r).out);
        return state + "|" + TempDir::read(dir.file("resolv.conf"));
    }

    std::string helperLog() const { return TempDir::read(dir.file("helper.log")); }

    // The helper dies as under kill -9 (what it started lives on), and comes
    // back as its service would, on the same socket.
    void killHelper() {
        if (helper_.pid() > 0) ::kill(helper_.pid(), SIGKILL);
        helper_.stop();
    }
    bool restartHelper() {
        socket_ = testbed::startHelper(helperBinary_, dir.path(), helper_);
        return !socket_.empty();
    }

    TestbedEnv env;
    TempDir dir;
    std::vector<std::string> events;
    std::optional<bool> adopted;  // what the last startApp(true) took over
    std::chrono::steady_clock::time_point signInStarted;
    std::unique_ptr<QtMainQueue> queue_;
    std::unique_ptr<ThreadPool> background_;
    std::unique_ptr<FakeHelperInstaller> installer_;
    SystemClock clock;
    PosixProcessRunner runner;
    FakeSettingsStore settings;
    FakeSecretStore secrets;
    FakeSystemInfo system;
    FakeImageCodec codec;
    FakeHelperJobTable jobs;
    std::unique_ptr<QtHttpClient> http;
    std::unique_ptr<ParseClient> parse;
    std::unique_ptr<HelperTool_XPC_Connector> connector;
    std::shared_ptr<DefaultServiceLayerFactory> factory;
    std::unique_ptr<ServiceLayer> hub;
    std::shared_ptr<VPNConnectionManager> manager;

private:
    bool tunnelDown_ = false;
    std::string helperBinary_;
    std::string bundled_;
    std::string socket_;
    ChildProcess helper_;
};

// The helper command that starts a tunnel over the protocol.
inline const char* tunnelCommandOf(VPNTypes protocol) {
    switch (protocol) {
        case VPNTypesOpenVPN: return "createOpenVPNConnection";
        case VPNTypesIKEv2_StrongSwan: return "start_connection";
        default: return "connectToVPN";
    }
}

// The provider that carried the last connect, and the helper command that started it.
inline void expectCarriedBy(const TestbedEngine& bed, VPNTypes protocol) {
    EXPECT_EQ(bed.connectedOver, std::optional<VPNTypes>(protocol));
    EXPECT_EQ(bed.commandUsed, tunnelCommandOf(protocol));
}

// Suites on one engine for the whole test binary: a process enters the client
// namespace once and cannot leave it. skip_ holds why the testbed is out of reach.
class TestbedEngineSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { skip_ = bed().enterWithTestbedResolver(); }
    static TestbedEngine& bed() {
        static auto* shared = new TestbedEngine;
        return *shared;
    }
    static inline std::string skip_;
};

// A test on the engine as the demo runs it. The whole process works in the
// client namespace, from its first thread on; each test starts the
// application's side afresh on a helper of its own.
class TestbedEngineTest : public ::testing::Test {
protected:
    static TestbedEngine& engineHome() {
        static TestbedEngine* engine = new TestbedEngine;
        return *engine;
    }
    static const std::string& skipReason() {
        static const std::string why = engineHome().enter();
        return why;
    }

    void SetUp() override {
        if (!skipReason().empty()) GTEST_SKIP() << skipReason();
        const std::string error = bed.start();
        ASSERT_TRUE(error.empty()) << error << "\n" << bed.helperLog();
    }
    void TearDown() override { bed.stop(); }

    std::string gateway() const { return bed.env.get("HAVENWAY_TESTBED_CLIENT_GATEWAY"); }
    std::string tunnelExit() const { return bed.env.get("HAVENWAY_TESTBED_TUNNEL_EXIT"); }

    TestbedEngine& bed = engineHome();
};

}  // namespace hw::test
