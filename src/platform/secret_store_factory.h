#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/file_secret_store.h"
#include "platform/secret_store.h"

namespace hw {

// What the session bus says of the Secret Service.
struct SecretServiceAnswer {
    enum class Kind { NoService, NoDefaultCollection, Ready };
    Kind kind = Kind::NoService;
    std::string why;  // for the log, when not Ready
};
// Asks the session bus (the application asks over QtDBus); may block for a
// bounded while, so it is only called off the main thread.
using SecretServiceProbe = std::function<SecretServiceAnswer()>;

// Where a keyring answers and has a default collection, libsecret, with
// whatever the 0600 file still held moved into it; else the file at
// paths::secretsFile() (with a warning in the log). HAVENWAY_SECRET_STORE set
// to "file", or "secret-service" (also "libsecret"), skips the probe and picks
// that one.
std::unique_ptr<SecretStore> makeSecretStore(const SecretServiceProbe& probe);

// The keyring's store over the file's: at the start the file's items move
// into the keyring (each erased from the file once the keyring holds it); a
// write the keyring refuses goes to the file instead, and a removal clears
// both, so a copy left in the file is never used later.
class KeyringOverFileStore final : public SecretStore {
public:
    KeyringOverFileStore(std::unique_ptr<SecretStore> keyring, std::unique_ptr<FileSecretStore> file);
    ~KeyringOverFileStore() override;

    SecretRead read(const std::string& service, const std::string& key) override;
    bool write(const std::string& service, const std::string& key, const Bytes& data) override;
    bool remove(const std::string& service, const std::string& key) override;

private:
    bool inFileOnly(const std::string& service, const std::string& key);
    void markInFileOnly(const std::string& service, const std::string& key, bool only);

    std::unique_ptr<SecretStore> keyring_;
    std::unique_ptr<FileSecretStore> file_;
    std::mutex mutex_;
    // Items the keyring refused, whose file copy is the newer.
    std::set<std::pair<std::string, std::string>> inFileOnly_;
    std::atomic<bool> refusalLogged_ = false;
};

// The same choice, made on a thread of its own once begun: asking the session
// bus for the Secret Service can take a while (the bus may start the service
// first), and moving the file's items may wait on an unlock prompt, neither of
// which the main thread may wait for. A read or write before that begins it
// and waits; nothing else ever waits for the choice.
class BackgroundChosenSecretStore : public SecretStore {
public:
    // Asks the probe given at the making.
    virtual void begin() = 0;
    // With the bus's answer, asked elsewhere without blocking.
    virtual void begin(SecretServiceAnswer answer) = 0;
};
std::unique_ptr<BackgroundChosenSecretStore> makeSecretStoreInBackground(SecretServiceProbe probe);
// HAVENWAY_SECRET_STORE names the store: no probe is needed.
bool secretStoreForced();

}  // namespace hw
