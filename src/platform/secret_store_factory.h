#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/file_secret_store.h"
#include "platform/keyring_over_file_store.h"
#include "platform/secret_store.h"

namespace hw {

// What the session bus says of the Secret Service.
struct SecretServiceAnswer {
    enum class Kind { NoService, NoDefaultCollection, Ready };
    Kind kind = Kind::NoService;
    std::string why;  // for the log, when not Ready
};
// Asks the session bus (the application asks over QtDBus); may block for a
// bounded while, so it is only called off the main thread.
using SecretServiceProbe = std::function<SecretServiceAnswer()>;

// Where a keyring answers and has a default collection, libsecret, with
// whatever the 0600 file still held moved into it; else the file at
// paths::secretsFile() (with a warning in the log). HAVENWAY_SECRET_STORE set
// to "file", or "secret-service" (also "libsecret"), skips the probe and picks
// that one.
std::unique_ptr<SecretStore> makeSecretStore(const SecretServiceProbe& probe);

// The same choice, made on a thread of its own once begun: asking the session
// bus for the Secret Service can take a while (the bus may start the service
// first), and moving the file's items may wait on an unlock prompt, neither of
// which the main thread may wait for. A call before that begins it and waits
// for it as long as a keyring's call is waited for; past that, the call is the
// file's (a removal is carried out in the chosen store too, once there is one).
class BackgroundChosenSecretStore : public SecretStore {
public:
    // Asks the probe given at the making.
    virtual void begin() = 0;
    // With the bus's answer, asked elsewhere without blocking.
    virtual void begin(SecretServiceAnswer answer) = 0;
};
std::unique_ptr<BackgroundChosenSecretStore> makeSecretStoreInBackground(SecretServiceProbe probe,
                                                                        int waitMs = kKeyringAnswerMs);
// HAVENWAY_SECRET_STORE names the store: no probe is needed.
bool secretStoreForced();

}  // namespace hw
