#pragma once
#include <memory>

#include "platform/secret_store.h"

namespace hw {

// The Secret Service when one answers, else the 0600 file at
// paths::secretsFile() (with a warning in the log). HAVENWAY_SECRET_STORE
// set to "file" or "libsecret" skips the probe and picks that one.
std::unique_ptr<SecretStore> makeSecretStore();

// The same choice, made on a thread of its own: asking the session bus for the
// Secret Service can take a while (the bus may start the service first), and
// the launch has other work until its first secret. The first call waits for it.
std::unique_ptr<SecretStore> makeSecretStoreInBackground();

}  // namespace hw
