#include "platform/libsecret_secret_store.h"

#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/secret_store_factory.h"
#include "support/capture_log.h"
#include "support/child_process.h"
#include "support/poll_until.h"
#include "support/private_dbus.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/secret_store_contract.h"

using hw::LibsecretSecretStore;
using hw::test::TempDir;
using namespace std::chrono_literals;

namespace {

// A private session bus (no service activation, so nothing else answers)
// with gnome-keyring's Secret Service on it, unlocked with a test password,
// or fresh: no keyring made yet, so no default collection.
class SecretServiceBed {
public:
    std::string setUp(bool fresh = false) {
        for (const char* program : {"dbus-daemon", "dbus-send", "gnome-keyring-daemon"}) {
            if (!hw::test::programOnPath(program)) return std::string(program) + " is not installed";
        }
        const std::string run = dir_.file("run"), home = dir_.file("home");
        ::mkdir(run.c_str(), 0700);
        ::mkdir(home.c_str(), 0700);
        std::string why;
        if (!bus_.start(&why, false)) return "the bus never came up: " + why;
        const std::vector<std::string> env = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "HOME=" + home,
                                              "XDG_RUNTIME_DIR=" + run, "XDG_DATA_HOME=" + home + "/data",
                                              "XDG_CONFIG_HOME=" + home + "/config",
                                              "DBUS_SESSION_BUS_ADDRESS=" + bus_.address()};
        std::vector<std::string> argv{"gnome-keyring-daemon", "--foreground", "--components=secrets"};
        if (!fresh) argv.push_back("--unlock");
        keyring_ = hw::test::spawnLogged(argv, env, dir_.file("keyring.log"), fresh ? "" : "havenway-test-password");
        if (keyring_ < 0) return "cannot start gnome-keyring-daemon";
        // Ready once the default collection (or, fresh, the service) answers on the bus.
        if (!hw::test::pollUntil([&] { return fresh ? serviceAnswers() : defaultCollectionAnswers(); }, 10s, 50ms))
            return "no Secret Service came up: " + logs();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
        return "";
    }
    void tearDown() {
        // Drop libsecret's cached connection before its bus goes away.
        secret_service_disconnect();
        if (keyring_ > 0) {
            ::kill(keyring_, SIGTERM);
            hw::test::waitChild(std::exchange(keyring_, -1), 2s);
        }
        bus_.stop();
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

private:
    bool defaultCollectionAnswers() {
        std::string out;
        return hw::test::runTool({"dbus-send", "--bus=" + bus_.address(), "--print-reply",
                                  "--dest=org.freedesktop.secrets", "/org/freedesktop/secrets/aliases/default",
                                  "org.freedesktop.DBus.Properties.Get", "string:org.freedesktop.Secret.Collection",
                                  "string:Locked"},
                                 2s, &out) &&
               out.find("boolean false") != std::string::npos;
    }
    bool serviceAnswers() {
        std::string out;
        return hw::test::runTool({"dbus-send", "--bus=" + bus_.address(), "--print-reply",
                                  "--dest=org.freedesktop.secrets", "/org/freedesktop/secrets",
                                  "org.freedesktop.DBus.Properties.Get", "string:org.freedesktop.Secret.Service",
                                  "string:Collections"},
                                 2s, &out);
    }
    std::string logs() const { return TempDir::read(dir_.file("keyring.log")); }

    TempDir dir_;
    hw::test::PrivateDBus bus_;
    pid_t keyring_ = -1;
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

// gnome-keyring before its first unlock: the Secret Service answers but has
// nowhere to store. The credentials are kept either way, and the log says where.
class FreshKeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = bed_.setUp(true); !why.empty()) GTEST_SKIP() << why;
    }
    void TearDown() override {
        bed_.tearDown();
        hw::log::setSink(nullptr);
    }
    SecretServiceBed bed_;
};

TEST_F(FreshKeyringTest, WithoutADefaultCollectionTheFileKeepsTheSecretsAndTheLogSaysSo) {
    ::unsetenv("HAVENWAY_SECRET_STORE");
    TempDir data;
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    auto log = hw::test::CaptureLog::install();
    auto store = hw::makeSecretStore();
    ASSERT_TRUE(store->writeString("com.havenway.Havenway", "username", "user@example.com"));
    EXPECT_EQ(store->read("com.havenway.Havenway", "username").text(), "user@example.com");
    EXPECT_EQ(dynamic_cast<LibsecretSecretStore*>(store.get()), nullptr);
    EXPECT_TRUE(log->contains("no default collection"));
    EXPECT_TRUE(std::filesystem::exists(data.path() + "/havenway/secrets.json"));
    ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
