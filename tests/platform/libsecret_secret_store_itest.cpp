#include "platform/libsecret_secret_store.h"

#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <chrono>
#include <filesystem>
#include <vector>

#include "support/capture_log.h"
#include "support/run_tool.h"
#include "support/secret_service_bed.h"
#include "support/secret_store_contract.h"
#include "support/temp_dir.h"

// GIO keeps a few bytes of a proxy's first call for the life of the process
// (its stack, unwound fast, ends in GLib's allocator); the leak checker would
// report them at the exit of a binary that stores through libsecret. This
// binary allocates through GLib only by way of libsecret.
extern "C" [[gnu::used]] const char* __lsan_default_suppressions() {
    return "leak:libgio-2.0.so\nleak:libglib-2.0.so\n";
}

using hw::LibsecretSecretStore;
using hw::test::SecretServiceBed;
using hw::test::TempDir;
using namespace std::chrono_literals;

namespace {

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

// Items as the earlier release made them (the same schema, attributes and
// label, written here with libsecret's own calls) are found, and the items
// this store makes are found by libsecret and by secret-tool.
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

TEST_F(LibsecretSecretStoreTest, ReadsWhatLibsecretStored) {
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
        const hw::SecretRead read = LibsecretSecretStore().read("shared", row.key);
        EXPECT_EQ(read.status, hw::SecretStatus::Found) << row.name;
        EXPECT_EQ(read.data, row.data) << row.name;
    }
}

TEST_F(LibsecretSecretStoreTest, LibsecretReadsWhatItStoredWithTheSameLabelAttributesAndContentType) {
    auto log = hw::test::CaptureLog::install();
    for (const SharedItem& row : sharedItems()) {
        ASSERT_TRUE(LibsecretSecretStore().write("shared", row.key, row.data)) << row.name;
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
}

TEST_F(LibsecretSecretStoreTest, SecretToolReadsWhatThisStoreWrote) {
    if (!hw::test::programOnPath("secret-tool")) GTEST_SKIP() << "secret-tool is not installed";
    ASSERT_TRUE(LibsecretSecretStore().writeString("com.havenway.Havenway", "username", "user@example.com"));
    std::string out;
    ASSERT_TRUE(hw::test::runTool({"secret-tool", "lookup", "service", "com.havenway.Havenway", "key", "username"}, 10s,
                                  &out))
        << out;
    EXPECT_EQ(out, "user@example.com");
    ASSERT_TRUE(hw::test::runTool({"secret-tool", "search", "service", "com.havenway.Havenway", "key", "username"}, 10s,
                                  &out))
        << out;
    EXPECT_NE(out.find("label = Havenway: com.havenway.Havenway (username)"), std::string::npos) << out;
    EXPECT_NE(out.find("schema = com.havenway.Secret"), std::string::npos) << out;
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
    LibsecretSecretStore store;
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
    EXPECT_TRUE(log->contains("cannot read a secret")) << "the log says why";
    EXPECT_FALSE(log->contains("hunter"));
}

// The keyring's daemon restarts under a running application: libsecret's
// session went with it, and the next calls still reach the new one.
TEST_F(KeyringOfItsOwnTest, AStoreOutlivesARestartOfTheService) {
    LibsecretSecretStore store;
    ASSERT_TRUE(store.writeString("svc", "password", "hunter2"));
    ASSERT_EQ(bed_.restartKeyring(), "");
    EXPECT_EQ(store.read("svc", "password").text(), "hunter2");
    ASSERT_EQ(bed_.restartKeyring(), "");
    EXPECT_TRUE(store.writeString("svc", "password", "hunter3"));
    ASSERT_EQ(bed_.restartKeyring(), "");
    EXPECT_TRUE(store.remove("svc", "password"));
}
