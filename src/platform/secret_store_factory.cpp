#include "platform/secret_store_factory.h"

#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <chrono>

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
    ChosenOnAThread(SecretServiceProbe probe, int waitMs) : probe_(std::move(probe)), waitMs_(waitMs) {}
    // Nothing waits for the choice here: a keyring whose unlock prompt never
    // completes holds the move for ever, and the exit must not wait on it.
    void begin() override { choose(probe_); }
    void begin(SecretServiceAnswer answer) override {
        choose([answer] { return answer; });
    }
    SecretRead read(const std::string& service, const std::string& key) override {
        if (SecretStore* store = chosen()) return store->read(service, key);
        // Not Absent: the store still to be chosen may hold it.
        SecretRead copy = fileMeanwhile().read(service, key);
        if (copy.status == SecretStatus::Found) return copy;
        return {SecretStatus::Error, {}, "the session bus has not yet said which secret store to use"};
    }
    bool write(const std::string& service, const std::string& key, const Bytes& data) override {
        // The file's items move into the keyring chosen, if one is.
        if (SecretStore* store = chosen()) return store->write(service, key, data);
        return fileMeanwhile().write(service, key, data);
    }
    bool remove(const std::string& service, const std::string& key) override {
        if (SecretStore* store = chosen()) return store->remove(service, key);
        fileMeanwhile().remove(service, key);
        std::lock_guard lock(choice_->mutex);
        if (!choice_->store) {
            choice_->removals.emplace_back(service, key);
            return false;  // not yet carried out where the choice may keep it
        }
        return choice_->store->remove(service, key);
    }

private:
    struct Choice {
        std::mutex mutex;
        std::condition_variable made;
        bool begun = false;
        std::unique_ptr<SecretStore> store;
        // Asked before the choice was made, carried out in the store chosen before anyone uses it.
        std::vector<std::pair<std::string, std::string>> removals;
    };

    void choose(SecretServiceProbe probe) {
        {
            std::lock_guard lock(choice_->mutex);
            if (choice_->begun) return;
            choice_->begun = true;
        }
        std::thread([choice = choice_, probe = std::move(probe)] {
            auto store = makeSecretStore(probe);
            std::unique_lock lock(choice->mutex);
            while (!choice->removals.empty()) {
                auto removals = std::exchange(choice->removals, {});
                lock.unlock();
                for (const auto& [service, key] : removals) store->remove(service, key);
                lock.lock();
            }
            choice->store = std::move(store);
            choice->made.notify_all();
        }).detach();
    }
    SecretStore* chosen() {
        begin();
        std::unique_lock lock(choice_->mutex);
        if (!choice_->made.wait_for(lock, std::chrono::milliseconds(waitMs_), [this] { return choice_->store != nullptr; })) {
            if (!waitLogged_.exchange(true))
                log::warning(kCategory, "no secret store chosen in " + std::to_string(waitMs_) +
                                            " ms (the session bus is slow to answer); using " + paths::secretsFile() + " meanwhile");
            return nullptr;
        }
        return choice_->store.get();
    }
    FileSecretStore& fileMeanwhile() { return meanwhile_; }

    const SecretServiceProbe probe_;
    const int waitMs_;
    FileSecretStore meanwhile_;
    std::atomic<bool> waitLogged_ = false;
    // Shared with the choosing thread, which may outlive this store.
    std::shared_ptr<Choice> choice_ = std::make_shared<Choice>();
};

}  // namespace

bool secretStoreForced() {
    const char* forced = std::getenv("HAVENWAY_SECRET_STORE");
    return forced && *forced;
}

std::unique_ptr<BackgroundChosenSecretStore> makeSecretStoreInBackground(SecretServiceProbe probe, int waitMs) {
    return std::make_unique<ChosenOnAThread>(std::move(probe), waitMs);
}

}  // namespace hw
