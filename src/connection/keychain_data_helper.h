#pragma once
#include <optional>
#include <string>

#include "platform/secret_store.h"

namespace hw {

// Generic items of the user's keychain, keyed by a string, under the
// application's identifier.
class KeychainDataHelper {
public:
    explicit KeychainDataHelper(SecretStore& store) : store_(store) {}

    static std::string getAppName();
    // Adds the item or replaces its data.
    void storeData(const std::string& key, const Bytes& data);
    // The stored data; none when absent or unreadable.
    std::optional<Bytes> getData(const std::string& key);

private:
    SecretStore& store_;
};

}  // namespace hw
