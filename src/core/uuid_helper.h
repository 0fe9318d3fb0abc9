#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/secret_store.h"
#include "platform/secret_store_queue.h"
#include "platform/system_info.h"

namespace hw {

// The install identifier, kept in the secret store as "appID". Stored once
// from the device identifier and never replaced.
class UUIDHelper {
public:
    static constexpr char IDENTIFIER_NAME[] = "appID";

    // With a queue, the check runs on it, off the main thread, and getUUID
    // answers from what the check found.
    UUIDHelper(SecretStore& keychain, const SystemInfo& system, std::string service,
               SecretStoreQueue* queue = nullptr);

    // Stores the device identifier when no identifier is stored yet. An empty
    // device identifier is never stored, and a store that cannot be read is
    // left alone.
    void checkUUID();
    // The stored identifier; the device identifier (unstored) when the store
    // cannot be read, or, with a queue, has not answered the check yet;
    // nothing when none is stored or none can be made.
    std::optional<std::string> getUUID();

private:
    struct Checked {
        bool done = false;
        std::optional<std::string> stored;
    };
    std::optional<std::string> deviceIdentifier() const;

    SecretStore& keychain_;
    const SystemInfo& system_;
    std::string service_;
    SecretStoreQueue* queue_;
    std::mutex mutex_;
    // Shared with the queued check, which may outlive this helper at exit.
    std::shared_ptr<Checked> checked_ = std::make_shared<Checked>();
};

}  // namespace hw
