#include "platform/keyring_over_file_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "platform/secret_store_factory.h"
#include "support/capture_log.h"
#include "support/fake_secret_store.h"
#include "support/gated_secret_store.h"
#include "support/poll_until.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kBoundMs = 200;

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A keyring that does not answer in the bound is one that refused: the item
// is in the 0600 file at once, reads find it there, a removal clears the file
// at once and the keyring once it answers, and a quit waits on nothing. Once
// the keyring answers, what the file kept moves into it.
TEST(KeyringOverFileStore, AKeyringThatDoesNotAnswerCountsAsOneThatRefused) {
    enum class Answers { Never, AfterTheSignOut, RefusingAtOnce };
    struct Row {
        const char* name;
        Answers answers;
    };
    const Row rows[] = {{"silent, or its prompt never completes", Answers::Never},
                        {"late, answering only after the sign-out", Answers::AfterTheSignOut},
                        {"refusing every write at once", Answers::RefusingAtOnce}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        auto log = CaptureLog::install();
        std::promise<void> gate;
        auto keyringOwned = std::make_unique<GatedSecretStore>();
        GatedSecretStore& keyring = *keyringOwned;
        keyring.opened = gate.get_future().share();
        if (row.answers == Answers::RefusingAtOnce) {
            keyring.items.failWrites = true;
            gate.set_value();
        }
        FileSecretStore file(dir.file("secrets.json"));
        auto store = std::make_unique<KeyringOverFileStore>(std::move(keyringOwned),
                                                            std::make_unique<FileSecretStore>(file.path()), kBoundMs);
        // The sign-in's writes: each waits one bound at most, the later ones none.
        const auto started = Clock::now();
        EXPECT_TRUE(store->write("svc", "user_pass", bytes("secret")));
        EXPECT_TRUE(store->write("svc", "parseSessionToken", bytes("r:1")));
        EXPECT_LT(Clock::now() - started, 2s);
        EXPECT_EQ(file.read("svc", "user_pass").text(), "secret") << "in the file at once";
        EXPECT_EQ(store->read("svc", "parseSessionToken").text(), "r:1");
        if (row.answers == Answers::RefusingAtOnce) {
            EXPECT_TRUE(log->contains("refused to store an item (org.freedesktop.DBus.Error.AccessDenied: not today)"));
        } else {
            EXPECT_TRUE(log->contains("has not answered a write in 200 ms; keeping secrets in " + file.path()));
        }

        // The sign-out: gone from the file at once; from the keyring when it answers.
        const bool removed = store->remove("svc", "parseSessionToken");
        EXPECT_EQ(file.read("svc", "parseSessionToken").status, SecretStatus::Absent);
        EXPECT_EQ(removed, row.answers == Answers::RefusingAtOnce) << "a removal the keyring has not carried out is not reported done";
        EXPECT_NE(store->read("svc", "parseSessionToken").status, SecretStatus::Found);
        if (row.answers == Answers::AfterTheSignOut) {
            gate.set_value();
            // The write under way when it stalled lands, and the removal follows it.
            EXPECT_TRUE(pollUntil([&] { return keyring.items.read("svc", "user_pass").text() == "secret"; }, 10s, 1ms));
            EXPECT_TRUE(pollUntil([&] { return keyring.items.read("svc", "parseSessionToken").status == SecretStatus::Absent &&
                                               store->read("svc", "parseSessionToken").status == SecretStatus::Absent; },
                                  10s, 1ms));
        }

        // The quit: never waits on a keyring that does not answer.
        const auto quitting = Clock::now();
        store.reset();
        EXPECT_LT(Clock::now() - quitting, 1s);
        if (row.answers == Answers::Never) {
            EXPECT_EQ(file.read("svc", "user_pass").text(), "secret") << "what was written is not lost";
            gate.set_value();
        }
        log::setSink(nullptr);
    }
}

// A choice of store held up (a bus slow to answer) holds no call past the
// bound: the file serves meanwhile, and a removal asked meanwhile is carried
// out in the store chosen before anyone reads it there.
TEST(BackgroundChosenSecretStore, ACallPastTheBoundUsesTheFileAndRemovalsReachTheChoice) {
    TempDir dir;
    ScopedEnv choice("HAVENWAY_SECRET_STORE", nullptr);
    ScopedEnv fileEnv("HAVENWAY_SECRETS_FILE", dir.file("secrets.json").c_str());
    FileSecretStore file(dir.file("secrets.json"));
    ASSERT_TRUE(file.writeString("svc", "parseSessionToken", "r:old"));
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    auto store = makeSecretStoreInBackground(
        [released] {
            released.wait();
            return SecretServiceAnswer{SecretServiceAnswer::Kind::NoService, "test"};
        },
        kBoundMs);
    const auto started = Clock::now();
    EXPECT_EQ(store->read("svc", "parseSessionToken").text(), "r:old");
    EXPECT_TRUE(store->writeString("svc", "user_pass", "secret"));
    EXPECT_FALSE(store->remove("svc", "parseSessionToken")) << "not yet carried out where the choice keeps it";
    EXPECT_LT(Clock::now() - started, 2s);
    EXPECT_EQ(file.read("svc", "user_pass").text(), "secret");
    release->set_value();
    EXPECT_TRUE(pollUntil([&] { return store->read("svc", "user_pass").text() == "secret"; }, 10s, 1ms));
    EXPECT_EQ(store->read("svc", "parseSessionToken").status, SecretStatus::Absent);
}

}  // namespace
}  // namespace hw::test
