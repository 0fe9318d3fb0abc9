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

// GLib's functions come through libsecret's own handle: the program links
// neither, and a session without a keyring loads neither GIO nor libsecret.
struct Libsecret {
    decltype(&secret_service_search_sync) search = nullptr;
    decltype(&secret_item_get_secret) itemSecret = nullptr;
    decltype(&secret_service_disconnect) disconnect = nullptr;
    decltype(&g_dbus_error_quark) dbusErrorQuark = nullptr;
    decltype(&g_io_error_quark) ioErrorQuark = nullptr;
    decltype(&secret_password_storev_binary_sync) store = nullptr;
    decltype(&secret_password_clearv_sync) clear = nullptr;
    decltype(&secret_value_new) valueNew = nullptr;
    decltype(&secret_value_get) valueGet = nullptr;
    decltype(&secret_value_unref) valueUnref = nullptr;
    decltype(&g_hash_table_new) tableNew = nullptr;
    decltype(&g_hash_table_insert) tableInsert = nullptr;
    decltype(&g_hash_table_unref) tableUnref = nullptr;
    decltype(&g_str_hash) strHash = nullptr;
    decltype(&g_str_equal) strEqual = nullptr;
    decltype(&g_utf8_validate) utf8Validate = nullptr;
    decltype(&g_error_free) errorFree = nullptr;
    decltype(&g_list_free_full) listFree = nullptr;
    decltype(&g_object_unref) objectUnref = nullptr;
};

const Libsecret* libsecret(std::string* why = nullptr) {
    static std::string failure;
    static const Libsecret* loaded = []() -> const Libsecret* {
        SharedLibrary library("libsecret-1.so.0");
        static Libsecret l;
        library.bind(l.search, "secret_service_search_sync");
        library.bind(l.itemSecret, "secret_item_get_secret");
        library.bind(l.disconnect, "secret_service_disconnect");
        library.bind(l.dbusErrorQuark, "g_dbus_error_quark");
        library.bind(l.ioErrorQuark, "g_io_error_quark");
        library.bind(l.store, "secret_password_storev_binary_sync");
        library.bind(l.clear, "secret_password_clearv_sync");
        library.bind(l.valueNew, "secret_value_new");
        library.bind(l.valueGet, "secret_value_get");
        library.bind(l.valueUnref, "secret_value_unref");
        library.bind(l.tableNew, "g_hash_table_new");
        library.bind(l.tableInsert, "g_hash_table_insert");
        library.bind(l.tableUnref, "g_hash_table_unref");
        library.bind(l.strHash, "g_str_hash");
        library.bind(l.strEqual, "g_str_equal");
        library.bind(l.utf8Validate, "g_utf8_validate");
        library.bind(l.errorFree, "g_error_free");
        library.bind(l.listFree, "g_list_free_full");
        library.bind(l.objectUnref, "g_object_unref");
        if (library.ok()) return &l;
        failure = library.failure();
        return nullptr;
    }();
    if (!loaded && why) *why = failure;
    return loaded;
}

class Attributes {
public:
    Attributes(const Libsecret& lib, const std::string& service, const std::string& key)
        : lib_(lib), table_(lib.tableNew(lib.strHash, lib.strEqual)) {
        lib.tableInsert(table_, const_cast<char*>("service"), const_cast<char*>(service.c_str()));
        lib.tableInsert(table_, const_cast<char*>("key"), const_cast<char*>(key.c_str()));
    }
    ~Attributes() { lib_.tableUnref(table_); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    GHashTable* get() const { return table_; }

private:
    const Libsecret& lib_;
    GHashTable* table_;
};

// Attribute values travel over D-Bus as strings: UTF-8 without NUL.
bool validText(const Libsecret& lib, const std::string& s) {
    return s.find('\0') == std::string::npos && lib.utf8Validate(s.data(), static_cast<gssize>(s.size()), nullptr);
}

// Logs the library's reason (never the secret), frees it and answers it.
std::string logError(const Libsecret& lib, const char* what, GError* error) {
    std::string why = error && error->message ? error->message : "unknown error";
    log::error(kCategory, std::string(what) + ": " + why);
    if (error) lib.errorFree(error);
    return why;
}

// A failure on the bus: a name or object gone, or an error the service
// answered that GIO has no code for (a session it no longer knows). A refusal
// (access denied, a call it does not support) is the service's answer, not a
// lost session: asking again would only be refused again.
bool failedOnTheBus(const Libsecret& lib, const GError* error) {
    if (error->domain == lib.dbusErrorQuark()) {
        switch (error->code) {
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
            case G_DBUS_ERROR_DISCONNECTED:
            case G_DBUS_ERROR_NO_SERVER:
            case G_DBUS_ERROR_UNKNOWN_OBJECT:
            case G_DBUS_ERROR_UNKNOWN_INTERFACE:
            case G_DBUS_ERROR_UNKNOWN_METHOD:
                return true;
            default:
                return false;
        }
    }
    return error->domain == lib.ioErrorQuark() && error->code == G_IO_ERROR_DBUS_ERROR;
}

// Runs the call; when it failed on the bus (the service restarted, and the
// session libsecret keeps went with it), drops that session and runs it once more.
template <class Call>
auto reconnectingOnce(const Libsecret& lib, GError** error, Call call) {
    auto result = call(error);
    if (!*error || !failedOnTheBus(lib, *error)) return result;
    log::info(kCategory, std::string("the Secret Service's session is gone (") + (*error)->message + "); opening another");
    lib.errorFree(*error);
    *error = nullptr;
    lib.disconnect();
    return call(error);
}

}  // namespace

bool LibsecretSecretStore::available(std::string* why) { return libsecret(why) != nullptr; }

std::string LibsecretSecretStore::lastFailure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

SecretRead LibsecretSecretStore::read(const std::string& service, const std::string& key) {
    std::string why;
    const Libsecret* lib = libsecret(&why);
    if (!lib) {
        log::error(kCategory, "cannot read a secret: " + why);
        return {SecretStatus::Error, {}, why};
    }
    if (!validText(*lib, service) || !validText(*lib, key)) return {SecretStatus::Error, {}};
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    // A search rather than a lookup: an item whose keyring stays locked (its
    // prompt dismissed) is found without its secret, which is an error, where
    // a lookup would answer that nothing is stored.
    GList* items = reconnectingOnce(*lib, &error, [&](GError** e) {
        return lib->search(nullptr, schema(), Attributes(*lib, service, key).get(),
                           static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS), nullptr, e);
    });
    if (error) {
        if (items) lib->listFree(items, lib->objectUnref);
        return {SecretStatus::Error, {}, logError(*lib, "cannot read a secret", error)};
    }
    if (!items) return {SecretStatus::Absent, {}};
    SecretValue* value = lib->itemSecret(static_cast<SecretItem*>(items->data));
    lib->listFree(items, lib->objectUnref);
    if (!value) {
        log::error(kCategory, "cannot read a secret: the keyring stayed locked");
        return {SecretStatus::Error, {}, "the keyring stayed locked"};
    }
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
        std::lock_guard lock(mutex_);
        failure_ = why;
        return false;
    }
    if (!validText(*lib, service) || !validText(*lib, key)) {
        log::error(kCategory, "a secret's service and key must be UTF-8 text");
        return false;
    }
    const char* raw = data.empty() ? "" : reinterpret_cast<const char*>(data.data());
    const bool text = lib->utf8Validate(raw, static_cast<gssize>(data.size()), nullptr);
    SecretValue* value =
        lib->valueNew(raw, static_cast<gssize>(data.size()), text ? "text/plain" : "application/octet-stream");
    const std::string label = "Havenway: " + service + " (" + key + ")";
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    const gboolean ok = reconnectingOnce(*lib, &error, [&](GError** e) {
        return lib->store(schema(), Attributes(*lib, service, key).get(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                          value, nullptr, e);
    });
    lib->valueUnref(value);
    if (!ok || error) {
        failure_ = logError(*lib, "cannot store a secret", error);
        return false;
    }
    return true;
}

bool LibsecretSecretStore::remove(const std::string& service, const std::string& key) {
    const Libsecret* lib = libsecret();
    if (!lib || !validText(*lib, service) || !validText(*lib, key)) return false;
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    const gboolean removed = reconnectingOnce(*lib, &error, [&](GError** e) {
        return lib->clear(schema(), Attributes(*lib, service, key).get(), nullptr, e);
    });
    if (error) {
        logError(*lib, "cannot remove a secret", error);
        return false;
    }
    return removed;
}

}  // namespace hw
