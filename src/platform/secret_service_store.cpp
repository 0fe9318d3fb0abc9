#include "platform/secret_service_store.h"

#include <chrono>
#include <functional>
#include <vector>

#include "json/json_url.h"
#include "platform/dbus_library.h"
#include "platform/log.h"
#include "platform/secret_service_cipher.h"

namespace hw {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kCategory = "secrets";
constexpr const char* kBusName = "org.freedesktop.secrets";
constexpr const char* kServicePath = "/org/freedesktop/secrets";
constexpr const char* kServiceInterface = "org.freedesktop.Secret.Service";
constexpr const char* kCollectionInterface = "org.freedesktop.Secret.Collection";
constexpr const char* kItemInterface = "org.freedesktop.Secret.Item";
constexpr const char* kPromptInterface = "org.freedesktop.Secret.Prompt";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kNotSupported = "org.freedesktop.DBus.Error.NotSupported";
constexpr const char* kSchema = "com.havenway.Secret";

// The service may be started by activation on the first call.
constexpr auto kCallTimeout = 25s;
// A prompt waits for someone to type the keyring's password.
constexpr auto kPromptTimeout = 5min;
constexpr std::size_t kMaxSecret = 1 << 20;
constexpr std::size_t kMaxPublicKey = 512;
constexpr std::size_t kMaxParameters = 256;
constexpr std::size_t kMaxPaths = 4096;

// D-Bus strings are UTF-8 without NUL: names that are not would not come back
// unchanged, and libdbus aborts the program on a string it refuses.
bool isText(std::string_view s) { return s.find('\0') == std::string_view::npos && jsonIsValidUTF8(s); }
bool isDBusText(const std::string& s) {
    const dbus::Library* lib = dbus::library();
    return isText(s) && (!lib || lib->validUtf8(s.c_str(), nullptr));
}

using Fill = std::function<void(dbus::Writer&)>;

struct Attributes {
    const std::string& service;
    const std::string& key;
    void write(dbus::Writer& w) const {
        dbus::Writer dict = w.open(DBUS_TYPE_ARRAY, "{ss}");
        const auto add = [&](const char* name, const std::string& value) {
            dbus::Writer entry = dict.open(DBUS_TYPE_DICT_ENTRY, nullptr);
            entry.string(name).string(value);
            dict.close(entry);
        };
        add("service", service);
        add("key", key);
        add("xdg:schema", kSchema);
        w.close(dict);
    }
};

bool readPaths(dbus::Reader& r, std::vector<std::string>& out) {
    dbus::Reader array(*dbus::library());
    if (!r.array(DBUS_TYPE_OBJECT_PATH, array)) return false;
    out.clear();
    std::string path;
    while (!array.atEnd()) {
        if (out.size() == kMaxPaths || !array.objectPath(path)) return false;
        out.push_back(path);
    }
    return true;
}

}  // namespace

// One connection with one open session on the service.
class SecretServiceStore::Session {
public:
    // Only the connection: enough for questions that move no secret.
    static std::unique_ptr<Session> connect(std::string* why) {
        auto connection = dbus::Connection::openSession(why);
        if (!connection) return nullptr;
        return std::unique_ptr<Session>(new Session(*dbus::library(), std::move(connection)));
    }

    static std::unique_ptr<Session> open(std::string* why) {
        auto s = connect(why);
        if (s && !s->openSession(why)) return nullptr;
        return s;
    }

    bool connected() const { return connection_->connected(); }
    // Whether a call since clearFailure() had an error for its answer.
    bool failedOnTheBus() const { return failedOnTheBus_; }
    void clearFailure() { failedOnTheBus_ = false; }

    // The path the alias stands for; "/" when there is none.
    std::optional<std::string> readAlias(const char* alias, std::string* why) {
        auto reply = call(kServicePath, kServiceInterface, "ReadAlias", [&](dbus::Writer& w) { w.string(alias); }, why);
        dbus::Reader r(lib_, reply.get());
        std::string path;
        if (!reply) return std::nullopt;
        if (!r.objectPath(path)) return malformed("ReadAlias", why);
        return path;
    }

    struct Found {
        std::vector<std::string> unlocked, locked;
    };
    std::optional<Found> search(const Attributes& attributes, std::string* why) {
        auto reply = call(kServicePath, kServiceInterface, "SearchItems",
                          [&](dbus::Writer& w) { attributes.write(w); }, why);
        if (!reply) return std::nullopt;
        dbus::Reader r(lib_, reply.get());
        Found found;
        if (!readPaths(r, found.unlocked) || !readPaths(r, found.locked)) return malformed("SearchItems", why);
        return found;
    }

    std::optional<bool> locked(const std::string& collection, std::string* why) {
        auto reply = call(collection, kPropertiesInterface, "Get",
                          [&](dbus::Writer& w) { w.string(kCollectionInterface).string("Locked"); }, why);
        if (!reply) return std::nullopt;
        dbus::Reader r(lib_, reply.get()), value(lib_);
        bool isLocked = false;
        if (!r.variant(value) || !value.boolean(isLocked)) return malformed("the Locked property", why);
        return isLocked;
    }

    // Unlocks the objects, prompting for the keyring's password when the service asks.
    bool unlock(const std::vector<std::string>& paths, std::string* why) {
        auto reply = call(kServicePath, kServiceInterface, "Unlock",
                          [&](dbus::Writer& w) {
                              dbus::Writer array = w.open(DBUS_TYPE_ARRAY, DBUS_TYPE_OBJECT_PATH_AS_STRING);
                              for (const std::string& p : paths) array.objectPath(p);
                              w.close(array);
                          },
                          why);
        if (!reply) return false;
        dbus::Reader r(lib_, reply.get());
        std::vector<std::string> unlocked;
        std::string prompt;
        if (!readPaths(r, unlocked) || !r.objectPath(prompt)) return refuse("Unlock", why);
        return runPrompt(prompt, owner(reply), why);
    }

    std::optional<Bytes> secret(const std::string& item, std::string* why) {
        auto reply = call(item, kItemInterface, "GetSecret", [&](dbus::Writer& w) { w.objectPath(path_); }, why);
        if (!reply) return std::nullopt;
        dbus::Reader r(lib_, reply.get()), s(lib_);
        std::string session, contentType;
        Bytes parameters, value;
        if (!r.structure(s) || !s.objectPath(session) || !s.bytes(parameters, kMaxParameters) ||
            !s.bytes(value, kMaxSecret) || !s.string(contentType) || session != path_)
            return malformed("GetSecret", why);
        if (!cipher_) {
            if (!parameters.empty()) return malformed("GetSecret", why);
            return value;
        }
        auto plain = cipher_->open(parameters, value);
        std::fill(value.begin(), value.end(), 0);
        if (!plain && why) *why = "the secret did not decrypt";
        return plain;
    }

    bool create(const std::string& collection, const std::string& label, const Attributes& attributes,
                const Bytes& data, std::string* why) {
        const bool text = isText(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        SecretServiceCipher::Sealed sealed;
        if (cipher_) {
            auto s = cipher_->seal(data);
            if (!s) {
                if (why) *why = "cannot encrypt the secret";
                return false;
            }
            sealed = std::move(*s);
        }
        auto reply = call(collection, kCollectionInterface, "CreateItem",
                          [&](dbus::Writer& w) {
                              dbus::Writer properties = w.open(DBUS_TYPE_ARRAY, "{sv}");
                              dbus::Writer entry = properties.open(DBUS_TYPE_DICT_ENTRY, nullptr);
                              entry.string(std::string(kItemInterface) + ".Label");
                              dbus::Writer v = entry.open(DBUS_TYPE_VARIANT, "s");
                              v.string(label);
                              entry.close(v);
                              properties.close(entry);
                              entry = properties.open(DBUS_TYPE_DICT_ENTRY, nullptr);
                              entry.string(std::string(kItemInterface) + ".Attributes");
                              v = entry.open(DBUS_TYPE_VARIANT, "a{ss}");
                              attributes.write(v);
                              entry.close(v);
                              properties.close(entry);
                              w.close(properties);
                              dbus::Writer secret = w.open(DBUS_TYPE_STRUCT, nullptr);
                              secret.objectPath(path_)
                                  .bytes(cipher_ ? sealed.iv : Bytes{})
                                  .bytes(cipher_ ? sealed.data : data)
                                  .string(text ? "text/plain" : "application/octet-stream");
                              w.close(secret);
                              w.boolean(true);  // replace the item with the same attributes
                          },
                          why);
        std::fill(sealed.data.begin(), sealed.data.end(), 0);
        if (!reply) return false;
        dbus::Reader r(lib_, reply.get());
        std::string item, prompt;
        if (!r.objectPath(item) || !r.objectPath(prompt)) return refuse("CreateItem", why);
        return runPrompt(prompt, owner(reply), why);
    }

    bool remove(const std::string& item, std::string* why) {
        auto reply = call(item, kItemInterface, "Delete", nullptr, why);
        if (!reply) return false;
        dbus::Reader r(lib_, reply.get());
        std::string prompt;
        if (!r.objectPath(prompt)) return refuse("Delete", why);
        return runPrompt(prompt, owner(reply), why);
    }

private:
    Session(const dbus::Library& lib, std::unique_ptr<dbus::Connection> c) : lib_(lib), connection_(std::move(c)) {}

    // Encrypted when the service can; in the clear only when it says it cannot.
    bool openSession(std::string* why) {
        std::string why1;
        cipher_ = SecretServiceCipher::create(&why1);
        std::string errorName;
        if (cipher_) {
            auto reply = call(kServicePath, kServiceInterface, "OpenSession",
                              [&](dbus::Writer& w) {
                                  w.string(SecretServiceCipher::kAlgorithm);
                                  dbus::Writer v = w.open(DBUS_TYPE_VARIANT, "ay");
                                  v.bytes(cipher_->publicKey());
                                  w.close(v);
                              },
                              why, &errorName);
            if (reply) {
                dbus::Reader r(lib_, reply.get()), output(lib_);
                Bytes peer;
                if (!r.variant(output) || !output.bytes(peer, kMaxPublicKey) || !r.objectPath(path_) ||
                    path_ == "/")
                    return refuse("OpenSession", why);
                if (!cipher_->agree(peer)) {
                    if (why) *why = "the Secret Service sent an unusable public key";
                    return false;
                }
                return true;
            }
            if (errorName != kNotSupported) return false;
            log::warning(kCategory, "secrets travel to the Secret Service unencrypted: it offers no " +
                                        std::string(SecretServiceCipher::kAlgorithm));
        } else {
            log::warning(kCategory, "secrets travel to the Secret Service unencrypted: " + why1);
        }
        cipher_.reset();
        auto reply = call(kServicePath, kServiceInterface, "OpenSession",
                          [&](dbus::Writer& w) {
                              w.string("plain");
                              dbus::Writer v = w.open(DBUS_TYPE_VARIANT, "s");
                              v.string("");
                              w.close(v);
                          },
                          why);
        if (!reply) return false;
        dbus::Reader r(lib_, reply.get()), output(lib_);
        if (!r.variant(output) || !r.objectPath(path_) || path_ == "/")
            return refuse("OpenSession", why);
        return true;
    }

    dbus::Message call(const std::string& path, const char* interface, const char* method, const Fill& fill,
                       std::string* why, std::string* errorName = nullptr) {
        dbus::Message request(lib_.newMethodCall(kBusName, path.c_str(), interface, method));
        if (request && fill) {
            dbus::Writer w(lib_, request.get());
            fill(w);
            if (!w.ok()) request.reset();
        }
        std::string reason;
        auto reply = connection_->call(std::move(request), kCallTimeout, errorName, &reason);
        if (!reply) {
            failedOnTheBus_ = true;
            if (why) *why = std::string(method) + ": " + reason;
        }
        return reply;
    }

    std::string owner(const dbus::Message& reply) const {
        const char* sender = lib_.sender(reply.get());
        return sender ? sender : "";
    }

    // True when there was nothing to confirm or the prompt was completed, not dismissed.
    bool runPrompt(const std::string& prompt, const std::string& owner, std::string* why) {
        if (prompt == "/") return true;
        if (owner.empty()) return refuse("a prompt", why);
        const std::string rule = "type='signal',sender='" + owner + "',interface='" + kPromptInterface +
                                 "',member='Completed',path='" + prompt + "'";
        if (!connection_->addMatch(rule, why)) return false;
        const auto deadline = std::chrono::steady_clock::now() + kPromptTimeout;
        bool ok = call(prompt, kPromptInterface, "Prompt", [](dbus::Writer& w) { w.string(""); }, why) != nullptr;
        if (ok) {
            auto completed = connection_->waitForSignal(owner, prompt, kPromptInterface, "Completed", deadline);
            dbus::Reader r(lib_, completed.get());
            bool dismissed = true;
            ok = completed && r.boolean(dismissed) && !dismissed;
            if (!ok && why) *why = !completed ? "no answer to the keyring's prompt" : "the keyring's prompt was dismissed";
        }
        connection_->removeMatch(rule);
        return ok;
    }

    static std::nullopt_t malformed(const char* what, std::string* why) {
        if (why) *why = std::string("the Secret Service's answer to ") + what + " is malformed";
        return std::nullopt;
    }
    static bool refuse(const char* what, std::string* why) {
        malformed(what, why);
        return false;
    }

    const dbus::Library& lib_;
    std::unique_ptr<dbus::Connection> connection_;
    std::unique_ptr<SecretServiceCipher> cipher_;
    std::string path_;
    bool failedOnTheBus_ = false;
};

SecretServiceStore::SecretServiceStore() = default;
SecretServiceStore::~SecretServiceStore() = default;

SecretServiceStore::Session* SecretServiceStore::session(std::string* why) {
    if (session_ && !session_->connected()) session_.reset();
    if (!session_) session_ = Session::open(why);
    return session_.get();
}

bool SecretServiceStore::run(const std::function<bool(Session&, std::string*)>& operation, std::string* why) {
    for (int attempt = 0;; ++attempt) {
        const bool kept = session_ && session_->connected();
        Session* s = session(why);
        if (!s) return false;
        s->clearFailure();
        if (operation(*s, why)) return true;
        // A session kept from before may be gone with the service that opened
        // it (restarted, say); a new one is worth one more try. A prompt the
        // user dismissed is not asked again.
        const bool retry = kept && attempt == 0 && s->failedOnTheBus();
        session_.reset();
        if (!retry) return false;
    }
}

SecretRead SecretServiceStore::read(const std::string& service, const std::string& key) {
    if (!isDBusText(service) || !isDBusText(key)) return {SecretStatus::Error, {}};
    std::lock_guard lock(mutex_);
    SecretRead result{SecretStatus::Error, {}};
    std::string why;
    const bool ok = run(
        [&](Session& s, std::string* why) {
            auto found = s.search({service, key}, why);
            if (!found) return false;
            if (found->unlocked.empty() && found->locked.empty()) {
                result = {SecretStatus::Absent, {}};
                return true;
            }
            const bool wasLocked = found->unlocked.empty();
            const std::string item = wasLocked ? found->locked.front() : found->unlocked.front();
            if (wasLocked && !s.unlock({item}, why)) return false;
            auto data = s.secret(item, why);
            if (!data) return false;
            result = {SecretStatus::Found, std::move(*data)};
            return true;
        },
        &why);
    if (!ok) log::error(kCategory, "cannot read a secret: " + why);
    return result;
}

bool SecretServiceStore::write(const std::string& service, const std::string& key, const Bytes& data) {
    if (!isDBusText(service) || !isDBusText(key)) {
        log::error(kCategory, "a secret's service and key must be UTF-8 text");
        return false;
    }
    const std::string label = "Havenway: " + service + " (" + key + ")";
    std::lock_guard lock(mutex_);
    std::string why;
    const bool ok = run(
        [&](Session& s, std::string* why) {
            const auto collection = s.readAlias("default", why);
            if (!collection) return false;
            if (*collection == "/") {
                *why = "the Secret Service has no default collection";
                return false;
            }
            const auto locked = s.locked(*collection, why);
            if (!locked || (*locked && !s.unlock({*collection}, why))) return false;
            return s.create(*collection, label, {service, key}, data, why);
        },
        &why);
    if (!ok) log::error(kCategory, "cannot store a secret: " + why);
    return ok;
}

bool SecretServiceStore::remove(const std::string& service, const std::string& key) {
    if (!isDBusText(service) || !isDBusText(key)) return false;
    std::lock_guard lock(mutex_);
    std::string why;
    bool removed = false;
    const bool ok = run(
        [&](Session& s, std::string* why) {
            auto found = s.search({service, key}, why);
            if (!found || (!found->locked.empty() && !s.unlock(found->locked, why))) return false;
            found->unlocked.insert(found->unlocked.end(), found->locked.begin(), found->locked.end());
            for (const std::string& item : found->unlocked) {
                if (!s.remove(item, why)) return false;
                removed = true;
            }
            return true;
        },
        &why);
    if (!ok) log::error(kCategory, "cannot remove a secret: " + why);
    return removed;
}

bool SecretServiceStore::serviceAvailable(std::string* why) { return Session::open(why) != nullptr; }

bool SecretServiceStore::hasDefaultCollection(std::string* why) {
    std::string reason;
    auto s = Session::connect(&reason);
    const auto alias = s ? s->readAlias("default", &reason) : std::nullopt;
    if (alias && *alias != "/") return true;
    // "/" is the service's own answer that there is none: no failure to report.
    if (why) *why = alias ? "" : reason;
    return false;
}

}  // namespace hw
