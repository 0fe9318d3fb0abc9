#pragma once
#include <memory>

#include "platform/secret_store.h"

namespace hw {

// The Secret Service when one answers, else the 0600 file at
// paths::secretsFile() (with a warning in the log). HAVENWAY_SECRET_STORE
// set to "file" or "libsecret" skips the probe and picks that one.
std::unique_ptr<SecretStore> makeSecretStore();

}  // namespace hw
