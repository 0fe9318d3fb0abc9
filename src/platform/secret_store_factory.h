#pragma once
#include <memory>

#include "platform/secret_store.h"

namespace hw {

// The Secret Service when one answers, else the 0600 file at
// paths::secretsFile() (with a warning in the log). HAVENWAY_SECRET_STORE
// set to "file", or "secret-service" (also "libsecret"), skips the probe and
// picks that one.
std::unique_ptr<SecretStore> makeSecretStore();

// The same choice, made on a thread of its own once begin() is called: asking
// the session bus for the Secret Service can take a while (the bus may start the
// service first), which the first window must not wait for. A read or write before begin() begins it and waits.
class BackgroundChosenSecretStore : public SecretStore {
public:
    virtual void begin() = 0;
};
std::unique_ptr<BackgroundChosenSecretStore> makeSecretStoreInBackground();

}  // namespace hw
