#include "platform/secret_service_store.h"

#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <vector>

#include "platform/secret_store_factory.h"
#include "support/capture_log.h"
#include "support/child_process.h"
#include "support/poll_until.h"
#include "support/private_dbus.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/secret_store_contract.h"

using hw::SecretServiceStore;
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
        env_ = env;
        fresh_ = fresh;
        if (const std::string why = startKeyring(); !why.empty()) return why;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
        return "";
    }
    // The same keyring in a new daemon on the same bus, as after a crash.
    std::string restartKeyring() {
        stopKeyring();
        return startKeyring();
    }
    void tearDown() {
        // Drop libsecret's cached connection before its bus goes away.
        secret_service_disconnect();
        stopKeyring();
        bus_.stop();
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

private:
    std::string startKeyring() {
        std::vector<std::string> argv{"gnome-keyring-daemon", "--foreground", "--components=secrets"};
        if (!fresh_) argv.push_back("--unlock");
        keyring_ = hw::test::spawnLogged(argv, env_, dir_.file("keyring.log"), fresh_ ? "" : "havenway-test-password");
        if (keyring_ < 0) return "cannot start gnome-keyring-daemon";
        // Ready once the default collection (or, fresh, the service) answers on the bus.
        if (!hw::test::pollUntil([&] { return fresh_ ? serviceAnswers() : defaultCollectionAnswers(); }, 10s, 50ms))
            return "no Secret Service came up: " + logs();
        return "";
    }
    void stopKeyring() {
        if (keyring_ > 0) {
            ::kill(keyring_, SIGTERM);
            hw::test::waitChild(std::exchange(keyring_, -1), 2s);
        }
    }
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
    std::vector<std::string> env_;
    bool fresh_ = false;
    hw::test::PrivateDBus bus_;
    pid_t keyring_ = -1;
};

class SecretServiceStoreTest : public ::testing::Test {
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

TEST_F(SecretServiceStoreTest, KeepsItemsByServiceAndKeyInTheService) {
    hw::test::expectSecretStoreContract([] { return std::make_unique<SecretServiceStore>(); });
}

// libsecret, the keyring's usual client, and this store each find the items
// the other made: the same attributes, label and content type, the secret
// carried encrypted both ways.
const SecretSchema* schema() {
    static const SecretSchema s = [] {
        SecretSchema x{};
        x.name = "com.havenway.Secret";
        x.flags = SECRET_SCHEMA_NONE;
        x.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        x.attributes[1] = {"key", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return x;
    }();
    return &s;
}

struct SharedItem {
    const char* name;
    const char* key;
    hw::Bytes data;
    const char* contentType;
};

std::vector<SharedItem> sharedItems() {
    const std::string text = "p\xc3\xa4ss w\xc3\xb6rd";
    return {{"text", "text", hw::Bytes(text.begin(), text.end()), "text/plain"},
            {"binary", "binary", {0x00, 0xff, 0x10, 0x80}, "application/octet-stream"},
            {"long text", "long", hw::Bytes(1000, 'x'), "text/plain"}};
}

GHashTable* libsecretAttributes(const char* key) {
    GHashTable* t = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(t, const_cast<char*>("service"), const_cast<char*>("shared"));
    g_hash_table_insert(t, const_cast<char*>("key"), const_cast<char*>(key));
    return t;
}

// Stores the row through libsecret under a key of its own, and answers the
// content type libsecret then reads back.
std::string libsecretRoundTripContentType(const SharedItem& row) {
    const std::string key = std::string("libsecret-") + row.key;
    SecretValue* value = secret_value_new(reinterpret_cast<const char*>(row.data.data()),
                                          static_cast<gssize>(row.data.size()), row.contentType);
    GHashTable* attributes = libsecretAttributes(key.c_str());
    secret_password_storev_binary_sync(schema(), attributes, SECRET_COLLECTION_DEFAULT, "libsecret's", value, nullptr,
                                       nullptr);
    secret_value_unref(value);
    SecretValue* back = secret_password_lookupv_binary_sync(schema(), attributes, nullptr, nullptr);
    g_hash_table_unref(attributes);
    const std::string type = back ? secret_value_get_content_type(back) : "(none)";
    if (back) secret_value_unref(back);
    return type;
}

TEST_F(SecretServiceStoreTest, ReadsWhatLibsecretStored) {
    auto log = hw::test::CaptureLog::install();
    for (const SharedItem& row : sharedItems()) {
        SecretValue* value = secret_value_new(reinterpret_cast<const char*>(row.data.data()),
                                              static_cast<gssize>(row.data.size()), row.contentType);
        GHashTable* attributes = libsecretAttributes(row.key);
        GError* error = nullptr;
        ASSERT_TRUE(secret_password_storev_binary_sync(schema(), attributes, SECRET_COLLECTION_DEFAULT, "libsecret's",
                                                       value, nullptr, &error))
            << row.name << ": " << (error ? error->message : "");
        g_hash_table_unref(attributes);
        secret_value_unref(value);
        const hw::SecretRead read = SecretServiceStore().read("shared", row.key);
        EXPECT_EQ(read.status, hw::SecretStatus::Found) << row.name;
        EXPECT_EQ(read.data, row.data) << row.name;
    }
    EXPECT_FALSE(log->contains("unencrypted"));
}

TEST_F(SecretServiceStoreTest, LibsecretReadsWhatItStoredWithTheSameLabelAttributesAndContentType) {
    auto log = hw::test::CaptureLog::install();
    for (const SharedItem& row : sharedItems()) {
        ASSERT_TRUE(SecretServiceStore().write("shared", row.key, row.data)) << row.name;
        GHashTable* attributes = libsecretAttributes(row.key);
        GError* error = nullptr;
        GList* items = secret_service_search_sync(nullptr, schema(), attributes,
                                                  static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL |
                                                                                 SECRET_SEARCH_LOAD_SECRETS),
                                                  nullptr, &error);
        g_hash_table_unref(attributes);
        ASSERT_EQ(g_list_length(items), 1u) << row.name << ": written once, replaced, never doubled";
        auto* item = static_cast<SecretItem*>(items->data);
        gchar* label = secret_item_get_label(item);
        EXPECT_STREQ(label, (std::string("Havenway: shared (") + row.key + ")").c_str());
        g_free(label);
        GHashTable* stored = secret_item_get_attributes(item);
        EXPECT_STREQ(static_cast<const char*>(g_hash_table_lookup(stored, "xdg:schema")), "com.havenway.Secret");
        g_hash_table_unref(stored);
        SecretValue* value = secret_item_get_secret(item);
        ASSERT_NE(value, nullptr) << row.name;
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        EXPECT_EQ(hw::Bytes(bytes, bytes + length), row.data) << row.name;
        // The keyring may not keep content types: ours must come back as libsecret's own does.
        EXPECT_EQ(std::string(secret_value_get_content_type(value)), libsecretRoundTripContentType(row))
            << row.name;
        secret_value_unref(value);
        g_list_free_full(items, g_object_unref);
    }
    EXPECT_FALSE(log->contains("unencrypted"));
}

TEST_F(SecretServiceStoreTest, FactoryPicksTheServiceWhenItAnswers) {
    ::unsetenv("HAVENWAY_SECRET_STORE");
    auto store = hw::makeSecretStore();
    EXPECT_NE(dynamic_cast<SecretServiceStore*>(store.get()), nullptr);
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
    EXPECT_EQ(dynamic_cast<SecretServiceStore*>(store.get()), nullptr);
    EXPECT_TRUE(log->contains("no default collection"));
    EXPECT_TRUE(std::filesystem::exists(data.path() + "/havenway/secrets.json"));
    ::unsetenv("XDG_DATA_HOME");
}

}  // namespace

// Cases that lock or restart the keyring get one of their own.
class KeyringOfItsOwnTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = bed_.setUp(); !why.empty()) GTEST_SKIP() << why;
    }
    void TearDown() override {
        bed_.tearDown();
        hw::log::setSink(nullptr);
    }
    SecretServiceBed bed_;
};

// A locked keyring with no one to answer its password prompt (no prompter on
// this bus): the prompt ends dismissed, and the store says it could not read,
// never that the secret is absent.
TEST_F(KeyringOfItsOwnTest, AnItemBehindADismissedPromptIsAnErrorNotAbsent) {
    SecretServiceStore store;
    ASSERT_TRUE(store.writeString("svc", "password", "hunter2"));
    std::string out;
    ASSERT_TRUE(hw::test::runTool({"dbus-send", "--print-reply", "--dest=org.freedesktop.secrets",
                                   "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                                   "array:objpath:/org/freedesktop/secrets/aliases/default"},
                                  5s, &out))
        << out;
    auto log = hw::test::CaptureLog::install();
    EXPECT_EQ(store.read("svc", "password").status, hw::SecretStatus::Error);
    EXPECT_FALSE(store.writeString("svc", "password", "hunter3"));
    EXPECT_TRUE(log->contains("dismissed")) << "the log says why";
    EXPECT_FALSE(log->contains("hunter"));
}

// The keyring's daemon restarts under a running application: the session the
// store kept is gone with it, and the next call opens another rather than fail.
TEST_F(KeyringOfItsOwnTest, AStoreOutlivesARestartOfTheService) {
    SecretServiceStore store;
    ASSERT_TRUE(store.writeString("svc", "password", "hunter2"));
    ASSERT_EQ(bed_.restartKeyring(), "");
    EXPECT_EQ(store.read("svc", "password").text(), "hunter2");
    ASSERT_EQ(bed_.restartKeyring(), "");
    EXPECT_TRUE(store.writeString("svc", "password", "hunter3"));
    ASSERT_EQ(bed_.restartKeyring(), "");
    EXPECT_TRUE(store.remove("svc", "password"));
}
