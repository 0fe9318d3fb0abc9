#include "platform/libsecret_secret_store.h"

#include <libsecret/secret.h>

#include <memory>

#include "platform/log.h"

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

}  // namespace

SecretRead LibsecretSecretStore::read(const std::string& service, const std::string& key) {
    if (!validText(service) || !validText(key)) return {SecretStatus::Error, {}};
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    SecretValue* value = secret_password_lookupv_binary_sync(schema(), attributes(service, key).get(), nullptr, &error);
    if (error) {
        logError("cannot read a secret", error);
        return {SecretStatus::Error, {}};
    }
    if (!value) return {SecretStatus::Absent, {}};
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    SecretRead result{SecretStatus::Found, Bytes(bytes, bytes + length)};
    secret_value_unref(value);
    return result;
}

bool LibsecretSecretStore::write(const std::string& service, const std::string& key, const Bytes& data) {
    if (!validText(service) || !validText(key)) {
        log::error(kCategory, "a secret's service and key must be UTF-8 text");
        return false;
    }
    const char* raw = data.empty() ? "" : reinterpret_cast<const char*>(data.data());
    const bool text = g_utf8_validate(raw, static_cast<gssize>(data.size()), nullptr);
    SecretValue* value =
        secret_value_new(raw, static_cast<gssize>(data.size()), text ? "text/plain" : "application/octet-stream");
    const std::string label = "Havenway: " + service + " (" + key + ")";
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    const gboolean ok = secret_password_storev_binary_sync(schema(), attributes(service, key).get(),
                                                           SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr,
                                                           &error);
    secret_value_unref(value);
    if (!ok || error) {
        logError("cannot store a secret", error);
        return false;
    }
    return true;
}

bool LibsecretSecretStore::remove(const std::string& service, const std::string& key) {
    if (!validText(service) || !validText(key)) return false;
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    const gboolean removed = secret_password_clearv_sync(schema(), attributes(service, key).get(), nullptr, &error);
    if (error) {
        logError("cannot remove a secret", error);
        return false;
    }
    return removed;
}

bool LibsecretSecretStore::serviceAvailable(std::string* why) {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        if (why) *why = error && error->message ? error->message : "no Secret Service";
        if (error) g_error_free(error);
        return false;
    }
    g_object_unref(service);
    return true;
}

bool LibsecretSecretStore::hasDefaultCollection(std::string* why) {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        if (why) *why = error && error->message ? error->message : "no Secret Service";
        if (error) g_error_free(error);
        return false;
    }
    // Making one would prompt for a keyring password before any window
    // shows; the caller keeps the secrets elsewhere instead.
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    const bool ok = collection != nullptr;
    if (!ok && why) *why = error && error->message ? error->message : "";
    if (error) g_error_free(error);
    if (collection) g_object_unref(collection);
    g_object_unref(service);
    return ok;
}

}  // namespace hw
