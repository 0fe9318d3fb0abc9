#include "platform/secret_store_factory.h"

#include <cstdlib>
#include <future>
#include <mutex>
#include <string>

#include "platform/file_secret_store.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/secret_service_store.h"

namespace hw {

std::unique_ptr<SecretStore> makeSecretStore() {
    const char* forced = std::getenv("HAVENWAY_SECRET_STORE");
    const std::string choice = forced ? forced : "";
    // "libsecret" is the name settings and scripts have always used for it.
    if (choice == "secret-service" || choice == "libsecret") return std::make_unique<SecretServiceStore>();
    if (choice != "file") {
        std::string why;
        if (!SecretServiceStore::serviceAvailable(&why)) {
            log::warning("secrets", "no Secret Service (" + why + "); keeping secrets in " + paths::secretsFile() +
                                        ", protected only by its file mode");
        } else if (!SecretServiceStore::hasDefaultCollection(&why)) {
            // Writes would fail there, and the account would not be remembered.
            log::warning("secrets", "the Secret Service has no default collection" + (why.empty() ? "" : " (" + why + ")") +
                                        "; keeping secrets in " + paths::secretsFile() +
                                        ", protected only by its file mode");
        } else {
            log::info("secrets", "keeping secrets in the Secret Service");
            return std::make_unique<SecretServiceStore>();
        }
    }
    return std::make_unique<FileSecretStore>();
}

namespace {

class ChosenOnAThread final : public BackgroundChosenSecretStore {
public:
    ~ChosenOnAThread() override {
        std::lock_guard lock(mutex_);
        if (choice_.valid()) choice_.wait();
    }
    void begin() override {
        std::lock_guard lock(mutex_);
        if (!begun_) choice_ = std::async(std::launch::async, [] { return makeSecretStore(); });
        begun_ = true;
    }
    SecretRead read(const std::string& service, const std::string& key) override { return chosen().read(service, key); }
    bool write(const std::string& service, const std::string& key, const Bytes& data) override {
        return chosen().write(service, key, data);
    }
    bool remove(const std::string& service, const std::string& key) override { return chosen().remove(service, key); }

private:
    SecretStore& chosen() {
        std::call_once(once_, [this] {
            begin();
            std::lock_guard lock(mutex_);
            store_ = choice_.get();
        });
        return *store_;
    }

    std::mutex mutex_;
    bool begun_ = false;
    std::future<std::unique_ptr<SecretStore>> choice_;
    std::once_flag once_;
    std::unique_ptr<SecretStore> store_;
};

}  // namespace

std::unique_ptr<BackgroundChosenSecretStore> makeSecretStoreInBackground() { return std::make_unique<ChosenOnAThread>(); }

}  // namespace hw
