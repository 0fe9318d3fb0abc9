#include "platform/libsecret_secret_store.h"

#include <libsecret/secret.h>

#include <memory>
#include <string>

#include "platform/log.h"
#include "platform/shared_library.h"

namespace hw {
namespace {

constexpr std::string_view kCategory = "secrets";

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

// The library (and GIO under it) is loaded on first use rather than with the
// program: the first window does not wait for it, and a system without it
// keeps its secrets in the file store.
struct Libsecret {
    decltype(&secret_service_get_sync) serviceGet = nullptr;
    decltype(&secret_collection_for_alias_sync) collectionForAlias = nullptr;
    decltype(&secret_password_lookupv_binary_sync) lookup = nullptr;
    decltype(&secret_password_storev_binary_sync) store = nullptr;
    decltype(&secret_password_clearv_sync) clear = nullptr;
    decltype(&secret_value_new) valueNew = nullptr;
    decltype(&secret_value_get) valueGet = nullptr;
    decltype(&secret_value_unref) valueUnref = nullptr;
    decltype(&g_object_unref) objectUnref = nullptr;
};

const Libsecret* libsecret(std::string* why = nullptr) {
    static std::string failure;
    static const Libsecret* loaded = []() -> const Libsecret* {
        SharedLibrary library("libsecret-1.so.0");
        static Libsecret l;
        library.bind(l.serviceGet, "secret_service_get_sync");
        library.bind(l.collectionForAlias, "secret_collection_for_alias_sync");
        library.bind(l.lookup, "secret_password_lookupv_binary_sync");
        library.bind(l.store, "secret_password_storev_binary_sync");
        library.bind(l.clear, "secret_password_clearv_sync");
        library.bind(l.valueNew, "secret_value_new");
        library.bind(l.valueGet, "secret_value_get");
        library.bind(l.valueUnref, "secret_value_unref");
        library.bind(l.objectUnref, "g_object_unref");
        if (library.ok()) return &l;
        failure = library.failure();
        return nullptr;
    }();
    if (!loaded && why) *why = failure;
    return loaded;
}

struct HashTableDeleter {
    void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableDeleter>;

// Attribute values travel over D-Bus as strings: UTF-8 without NUL.
bool validText(const std::string& s) { return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr); }

Attributes attributes(const std::string& service, const std::string& key) {
    Attributes t(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(t.get(), const_cast<char*>("service"), const_cast<char*>(service.c_str()));
    g_hash_table_insert(t.get(), const_cast<char*>("key"), const_cast<char*>(key.c_str()));
    return t;
}

// Logs the library's reason (never the secret) and frees it.
void logError(const char* what, GError* error) {
    log::error(kCategory, std::string(what) + ": " + (error && error->message ? error->message : "unknown error"));
    if (error) g_error_free(error);
}

// The session's Secret Service, or null with the reason.
SecretService* openService(const Libsecret& lib, std::string* why) {
    GError* error = nullptr;
    SecretService* service = lib.serviceGet(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service && why) *why = error && error->message ? error->message : "no Secret Service";
    if (error) g_error_free(error);
    return service;
}

}  // namespace

SecretRead LibsecretSecretStore::read(const std::string& service, const std::string& key) {
    const Libsecret* lib = libsecret();
    if (!lib || !validText(service) || !validText(key)) return {SecretStatus::Error, {}};
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    SecretValue* value = lib->lookup(schema(), attributes(service, key).get(), nullptr, &error);
    if (error) {
        logError("cannot read a secret", error);
        return {SecretStatus::Error, {}};
    }
    if (!value) return {SecretStatus::Absent, {}};
    gsize length = 0;
    const gchar* bytes = lib->valueGet(value, &length);
    SecretRead result{SecretStatus::Found, Bytes(bytes, bytes + length)};
    lib->valueUnref(value);
    return result;
}

bool LibsecretSecretStore::write(const std::string& service, const std::string& key, const Bytes& data) {
    std::string why;
    const Libsecret* lib = libsecret(&why);
    if (!lib) {
        log::error(kCategory, "cannot store a secret: " + why);
        return false;
    }
    if (!validText(service) || !validText(key)) {
        log::error(kCategory, "a secret's service and key must be UTF-8 text");
        return false;
    }
    const char* raw = data.empty() ? "" : reinterpret_cast<const char*>(data.data());
    const bool text = g_utf8_validate(raw, static_cast<gssize>(data.size()), nullptr);
    SecretValue* value =
        lib->valueNew(raw, static_cast<gssize>(data.size()), text ? "text/plain" : "application/octet-stream");
    const std::string label = "Havenway: " + service + " (" + key + ")";
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    const gboolean ok = lib->store(schema(), attributes(service, key).get(),
                                                           SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr,
                                                           &error);
    lib->valueUnref(value);
    if (!ok || error) {
        logError("cannot store a secret", error);
        return false;
    }
    return true;
}

bool LibsecretSecretStore::remove(const std::string& service, const std::string& key) {
    const Libsecret* lib = libsecret();
    if (!lib || !validText(service) || !validText(key)) return false;
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    const gboolean removed = lib->clear(schema(), attributes(service, key).get(), nullptr, &error);
    if (error) {
        logError("cannot remove a secret", error);
        return false;
    }
    return removed;
}

bool LibsecretSecretStore::serviceAvailable(std::string* why) {
    const Libsecret* lib = libsecret(why);
    SecretService* service = lib ? openService(*lib, why) : nullptr;
    if (!service) return false;
    lib->objectUnref(service);
    return true;
}

bool LibsecretSecretStore::hasDefaultCollection(std::string* why) {
    const Libsecret* lib = libsecret(why);
    SecretService* service = lib ? openService(*lib, why) : nullptr;
    if (!service) return false;
    GError* error = nullptr;
    // Making one would prompt for a keyring password before any window
    // shows; the caller keeps the secrets elsewhere instead.
    SecretCollection* collection =
        lib->collectionForAlias(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    const bool ok = collection != nullptr;
    if (!ok && why) *why = error && error->message ? error->message : "";
    if (error) g_error_free(error);
    if (collection) lib->objectUnref(collection);
    lib->objectUnref(service);
    return ok;
}

}  // namespace hw
