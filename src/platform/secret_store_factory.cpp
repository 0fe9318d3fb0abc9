#include "platform/secret_store_factory.h"

#include <cstdlib>
#include <string>

#include "platform/file_secret_store.h"
#include "platform/libsecret_secret_store.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace hw {

std::unique_ptr<SecretStore> makeSecretStore() {
    const char* forced = std::getenv("HAVENWAY_SECRET_STORE");
    const std::string choice = forced ? forced : "";
    if (choice == "libsecret") return std::make_unique<LibsecretSecretStore>();
    if (choice != "file") {
        std::string why;
        if (!LibsecretSecretStore::serviceAvailable(&why)) {
            log::warning("secrets", "no Secret Service (" + why + "); keeping secrets in " + paths::secretsFile() +
                                        ", protected only by its file mode");
        } else if (!LibsecretSecretStore::hasDefaultCollection(&why)) {
            // Writes would fail there, and the account would not be remembered.
            log::warning("secrets", "the Secret Service has no default collection" + (why.empty() ? "" : " (" + why + ")") +
                                        "; keeping secrets in " + paths::secretsFile() +
                                        ", protected only by its file mode");
        } else {
            log::info("secrets", "keeping secrets in the Secret Service");
            return std::make_unique<LibsecretSecretStore>();
        }
    }
    return std::make_unique<FileSecretStore>();
}

}  // namespace hw
