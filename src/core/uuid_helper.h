#pragma once
#include <mutex>
#include <optional>
#include <string>

#include "platform/secret_store.h"
#include "platform/system_info.h"

namespace hw {

// The install identifier, kept in the secret store as "appID". Stored once
// from the device identifier and never replaced.
class UUIDHelper {
public:
    static constexpr char IDENTIFIER_NAME[] = "appID";

    UUIDHelper(SecretStore& keychain, const SystemInfo& system, std::string service);

    // Stores the device identifier when no identifier is stored yet. An empty
    // device identifier is never stored, and a store that cannot be read is
    // left alone.
    void checkUUID();
    // The stored identifier; the device identifier (unstored) when the store
    // cannot be read; nothing when none is stored or none can be made.
    std::optional<std::string> getUUID();

private:
    SecretStore& keychain_;
    const SystemInfo& system_;
    std::string service_;
    std::mutex mutex_;
};

}  // namespace hw
