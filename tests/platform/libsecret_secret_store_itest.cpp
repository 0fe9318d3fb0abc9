#include "platform/libsecret_secret_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/posix_process_runner.h"
#include "platform/secret_store_factory.h"
#include "support/announcing_daemon.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/secret_store_contract.h"

using hw::LibsecretSecretStore;
using hw::test::TempDir;
using namespace std::chrono_literals;

namespace {

// A daemon of the test's own, with stdin bytes, stopped (TERM, then KILL) at the end.
class Daemon {
public:
    bool start(std::vector<std::string> argv, const std::vector<std::string>& env, const std::string& input,
               const std::string& logFile) {
        int in[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> args, envp;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        std::vector<std::string> envCopy = env;
        for (auto& e : envCopy) envp.push_back(e.data());
        envp.push_back(nullptr);
        const int rc = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        if (rc == 0 && !input.empty()) (void)!::write(in[1], input.data(), input.size());
        ::close(in[1]);
        if (rc != 0) pid_ = -1;
        return rc == 0;
    }
    ~Daemon() { stop(); }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        hw::test::waitChild(std::exchange(pid_, -1), 2s);
    }

private:
    pid_t pid_ = -1;
};

// A private session bus (no service activation, so nothing else answers)
// with gnome-keyring's Secret Service on it, unlocked with a test password.
class SecretServiceBed {
public:
    std::string setUp() {
        for (const char* program : {"dbus-daemon", "dbus-send", "gnome-keyring-daemon"}) {
            if (!hw::test::programOnPath(program)) return std::string(program) + " is not installed";
        }
        const std::string run = dir_.file("run"), home = dir_.file("home");
        ::mkdir(run.c_str(), 0700);
        ::mkdir(home.c_str(), 0700);
        const std::string socket = dir_.file("bus");
        TempDir::write(dir_.file("bus.conf"),
                       "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig><type>session</type><listen>unix:path=" +
                           socket +
                           "</listen><auth>EXTERNAL</auth>"
                           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        const std::string address = "unix:path=" + socket;
        const std::vector<std::string> env = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "HOME=" + home,
                                              "XDG_RUNTIME_DIR=" + run, "XDG_DATA_HOME=" + home + "/data",
                                              "XDG_CONFIG_HOME=" + home + "/config",
                                              "DBUS_SESSION_BUS_ADDRESS=" + address};
        std::string why;
        if (!bus_.start({"dbus-daemon", "--nofork", "--config-file=" + dir_.file("bus.conf"), "--print-address={fd}"},
                        10s, &why)) {
            return "the bus never came up: " + why;
        }
        if (!keyring_.start({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"}, env,
                            "havenway-test-password", dir_.file("keyring.log"))) {
            return "cannot start gnome-keyring-daemon";
        }
        // Ready once the default collection answers on the bus.
        if (!waitFor([&] { return defaultCollectionAnswers(); })) return "no Secret Service came up: " + logs();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        return "";
    }
    void tearDown() {
        // Drop libsecret's cached connection before its bus goes away.
        secret_service_disconnect();
        keyring_.stop();
        bus_.stop();
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

private:
    template <typename F>
    static bool waitFor(F ready) {
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < until) {
            if (ready()) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    bool defaultCollectionAnswers() {
        hw::PosixProcessRunner runner;
        hw::ProcessRequest request;
        request.argv = {"dbus-send",
                        "--bus=unix:path=" + dir_.file("bus"),
                        "--print-reply",
                        "--dest=org.freedesktop.secrets",
                        "/org/freedesktop/secrets/aliases/default",
                        "org.freedesktop.DBus.Properties.Get",
                        "string:org.freedesktop.Secret.Collection",
                        "string:Locked"};
        request.timeout = 2s;
        const auto r = runner.run(request);
        return r.ok() && r.out.find("boolean false") != std::string::npos;
    }
    std::string logs() const { return TempDir::read(dir_.file("keyring.log")); }

    TempDir dir_;
    hw::test::AnnouncingDaemon bus_;
    Daemon keyring_;
};

class LibsecretSecretStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bed_ = new SecretServiceBed;
        skip_ = bed_->setUp();
    }
    static void TearDownTestSuite() {
        bed_->tearDown();
        delete bed_;
        bed_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
    }
    void TearDown() override { hw::log::setSink(nullptr); }

    static inline SecretServiceBed* bed_ = nullptr;
    static inline std::string skip_;
};

TEST_F(LibsecretSecretStoreTest, KeepsItemsByServiceAndKeyInTheService) {
    hw::test::expectSecretStoreContract([] { return std::make_unique<LibsecretSecretStore>(); });
}

TEST_F(LibsecretSecretStoreTest, FactoryPicksTheServiceWhenItAnswers) {
    ::unsetenv("HAVENWAY_SECRET_STORE");
    auto store = hw::makeSecretStore();
    EXPECT_NE(dynamic_cast<LibsecretSecretStore*>(store.get()), nullptr);
}

}  // namespace
