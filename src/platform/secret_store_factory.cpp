#include "platform/secret_store_factory.h"

#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/file_secret_store.h"
#include "platform/libsecret_secret_store.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace hw {
namespace {

constexpr std::string_view kCategory = "secrets";

void warnFileOnly(const std::string& reason) {
    log::warning(kCategory, reason + "; keeping secrets in " + paths::secretsFile() + ", protected only by its file mode");
}

}  // namespace

KeyringOverFileStore::KeyringOverFileStore(std::unique_ptr<SecretStore> keyring, std::unique_ptr<FileSecretStore> file)
    : keyring_(std::move(keyring)), file_(std::move(file)) {
    const auto items = file_->readAll();
    if (!items || items->empty()) return;
    std::size_t moved = 0;
    for (const auto& [id, data] : *items) {
        // The file is only written while no keyring answers: its copy is the newer one.
        if (keyring_->write(id.first, id.second, data) && file_->remove(id.first, id.second)) ++moved;
        else inFileOnly_.insert(id);
    }
    if (moved == items->size()) {
        log::info(kCategory, "moved " + std::to_string(moved) + " secrets from " + file_->path() +
                                 " into the Secret Service");
    } else {
        log::warning(kCategory, "moved " + std::to_string(moved) + " of " + std::to_string(items->size()) +
                                    " secrets from " + file_->path() + " into the Secret Service; the rest stay there");
    }
}

KeyringOverFileStore::~KeyringOverFileStore() = default;

SecretRead KeyringOverFileStore::read(const std::string& service, const std::string& key) {
    if (inFileOnly(service, key)) {
        // The keyring refused it: whatever it still holds is older.
        SecretRead copy = file_->read(service, key);
        if (copy.status == SecretStatus::Found) return copy;
    }
    SecretRead read = keyring_->read(service, key);
    if (read.status == SecretStatus::Found) return read;
    // Only an item that could not move is still in the file; a keyring that
    // cannot answer (locked, its prompt dismissed) leaves the file's copy usable.
    SecretRead copy = file_->read(service, key);
    if (copy.status == SecretStatus::Found || read.status == SecretStatus::Absent) return copy;
    return read;
}

bool KeyringOverFileStore::write(const std::string& service, const std::string& key, const Bytes& data) {
    if (keyring_->write(service, key, data)) {
        markInFileOnly(service, key, false);
        file_->remove(service, key);
        return true;
    }
    if (!file_->write(service, key, data)) {
        log::warning(kCategory, "the Secret Service refused to store an item, and " + file_->path() +
                                    " could not be written either");
        return false;
    }
    markInFileOnly(service, key, true);
    if (!refusalLogged_.exchange(true)) {
        log::warning(kCategory, "the Secret Service refused to store an item; keeping it in " + file_->path() +
                                    ", protected only by its file mode");
    }
    return true;
}

bool KeyringOverFileStore::inFileOnly(const std::string& service, const std::string& key) {
    std::lock_guard lock(mutex_);
    return inFileOnly_.count({service, key}) != 0;
}

void KeyringOverFileStore::markInFileOnly(const std::string& service, const std::string& key, bool only) {
    std::lock_guard lock(mutex_);
    if (only) inFileOnly_.insert({service, key});
    else inFileOnly_.erase({service, key});
}

bool KeyringOverFileStore::remove(const std::string& service, const std::string& key) {
    markInFileOnly(service, key, false);
    const bool fromKeyring = keyring_->remove(service, key);
    const bool fromFile = file_->remove(service, key);
    return fromKeyring || fromFile;
}

std::unique_ptr<SecretStore> makeSecretStore(const SecretServiceProbe& probe) {
    const char* forced = std::getenv("HAVENWAY_SECRET_STORE");
    const std::string choice = forced ? forced : "";
    // "libsecret" is the name settings and scripts have always used for it.
    if (choice == "secret-service" || choice == "libsecret") return std::make_unique<LibsecretSecretStore>();
    if (choice == "file") return std::make_unique<FileSecretStore>();
    const SecretServiceAnswer answer = probe ? probe() : SecretServiceAnswer{SecretServiceAnswer::Kind::NoService, "not asked"};
    switch (answer.kind) {
        case SecretServiceAnswer::Kind::NoService:
            warnFileOnly("no Secret Service (" + answer.why + ")");
            break;
        case SecretServiceAnswer::Kind::NoDefaultCollection:
            // Writes would fail there, and the account would not be remembered.
            warnFileOnly("the Secret Service has no default collection" + (answer.why.empty() ? "" : " (" + answer.why + ")"));
            break;
        case SecretServiceAnswer::Kind::Ready:
            if (std::string why; !LibsecretSecretStore::available(&why)) {
                warnFileOnly("libsecret cannot be opened (" + why + ")");
                break;
            }
            log::info(kCategory, "keeping secrets in the Secret Service");
            return std::make_unique<KeyringOverFileStore>(std::make_unique<LibsecretSecretStore>(),
                                                          std::make_unique<FileSecretStore>());
    }
    return std::make_unique<FileSecretStore>();
}

namespace {

class ChosenOnAThread final : public BackgroundChosenSecretStore {
public:
    explicit ChosenOnAThread(SecretServiceProbe probe) : probe_(std::move(probe)) {}
    // Nothing waits for the choice here: a keyring whose unlock prompt never
    // completes holds the move for ever, and the exit must not wait on it.
    void begin() override { choose(probe_); }
    void begin(SecretServiceAnswer answer) override {
        choose([answer] { return answer; });
    }
    SecretRead read(const std::string& service, const std::string& key) override { return chosen().read(service, key); }
    bool write(const std::string& service, const std::string& key, const Bytes& data) override {
        return chosen().write(service, key, data);
    }
    bool remove(const std::string& service, const std::string& key) override { return chosen().remove(service, key); }

private:
    struct Choice {
        std::mutex mutex;
        std::condition_variable made;
        bool begun = false;
        std::unique_ptr<SecretStore> store;
    };

    void choose(SecretServiceProbe probe) {
        {
            std::lock_guard lock(choice_->mutex);
            if (choice_->begun) return;
            choice_->begun = true;
        }
        std::thread([choice = choice_, probe = std::move(probe)] {
            auto store = makeSecretStore(probe);
            std::lock_guard lock(choice->mutex);
            choice->store = std::move(store);
            choice->made.notify_all();
        }).detach();
    }
    SecretStore& chosen() {
        begin();
        std::unique_lock lock(choice_->mutex);
        choice_->made.wait(lock, [this] { return choice_->store != nullptr; });
        return *choice_->store;
    }

    const SecretServiceProbe probe_;
    // Shared with the choosing thread, which may outlive this store.
    std::shared_ptr<Choice> choice_ = std::make_shared<Choice>();
};

}  // namespace

bool secretStoreForced() {
    const char* forced = std::getenv("HAVENWAY_SECRET_STORE");
    return forced && *forced;
}

std::unique_ptr<BackgroundChosenSecretStore> makeSecretStoreInBackground(SecretServiceProbe probe) {
    return std::make_unique<ChosenOnAThread>(std::move(probe));
}

}  // namespace hw
