#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/file_secret_store.h"
#include "platform/secret_store.h"

namespace hw {

// How long a keyring's call is waited for before it counts as refused: one a
// user would not notice, and one a quit may spend.
constexpr int kKeyringAnswerMs = 2000;

// A keyring's calls, one at a time on a thread of its own, each waited for at
// most the bound. A call that outlasts it is left to end on that thread; until
// it has, every further call is unanswered at once, so a keyring that never
// answers costs one bound, not one per call. When the keyring has answered
// again and nothing waits, `caughtUp` runs there with the keyring.
class BoundedKeyring {
public:
    BoundedKeyring(std::unique_ptr<SecretStore> keyring, int boundMs, std::function<void(SecretStore&)> caughtUp);
    ~BoundedKeyring();
    BoundedKeyring(const BoundedKeyring&) = delete;
    BoundedKeyring& operator=(const BoundedKeyring&) = delete;

    struct Answer {
        bool ok = false;
        std::string why;  // the refusal's words
    };
    // None when the keyring did not answer in time.
    std::optional<SecretRead> read(const std::string& service, const std::string& key);
    std::optional<Answer> write(const std::string& service, const std::string& key, const Bytes& data);
    std::optional<bool> remove(const std::string& service, const std::string& key);
    int boundMs() const { return boundMs_; }

    struct Lane;

private:
    std::shared_ptr<Lane> lane_;
    const int boundMs_;
};

// The keyring's store over the file's: at the start the file's items move
// into the keyring (each erased from the file once the keyring holds it). A
// write the keyring refuses, or does not answer within the bound, goes to the
// file instead, and moves into the keyring once it answers; a read it does not
// answer is the file's; a removal clears the file at once and the keyring once
// it answers, so neither copy outlives a sign-out.
class KeyringOverFileStore final : public SecretStore {
public:
    KeyringOverFileStore(std::unique_ptr<SecretStore> keyring, std::unique_ptr<FileSecretStore> file,
                         int boundMs = kKeyringAnswerMs);
    ~KeyringOverFileStore() override;

    SecretRead read(const std::string& service, const std::string& key) override;
    bool write(const std::string& service, const std::string& key, const Bytes& data) override;
    bool remove(const std::string& service, const std::string& key) override;

private:
    using Id = std::pair<std::string, std::string>;
    struct Shared;
    void noAnswer(const char* call);

    std::shared_ptr<Shared> shared_;
    std::unique_ptr<BoundedKeyring> keyring_;
    std::atomic<bool> refusalLogged_ = false;
};

}  // namespace hw
