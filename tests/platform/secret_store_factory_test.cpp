#include "platform/secret_store_factory.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/file_secret_store.h"
#include "platform/secret_store_queue.h"
#include "support/capture_log.h"
#include "support/fake_secret_store.h"
#include "support/manual_queue.h"
#include "support/poll_until.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw::test {
namespace {

// The launch's store is chosen off the main thread; its first callers, from
// several threads at once, all reach the one store chosen, and it keeps what
// they wrote where that store keeps it.
TEST(BackgroundChosenSecretStore, ConcurrentFirstCallsShareTheChosenStore) {
    TempDir dir;
    ScopedEnv choice("HAVENWAY_SECRET_STORE", "file");
    ScopedEnv file("HAVENWAY_SECRETS_FILE", dir.file("secrets.json").c_str());
    {
        auto store = makeSecretStoreInBackground(nullptr);
        std::vector<std::thread> callers;
        for (int i = 0; i < 8; ++i) {
            callers.emplace_back([&store, i] {
                EXPECT_TRUE(store->writeString("svc", "key" + std::to_string(i), "value" + std::to_string(i)));
            });
        }
        for (auto& t : callers) t.join();
        EXPECT_EQ(store->read("svc", "key3").text(), "value3");
    }
    FileSecretStore reread(dir.file("secrets.json"));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(reread.read("svc", "key" + std::to_string(i)).text(), "value" + std::to_string(i)) << i;
    }
}

// The launch begins the choice once its first window is up, which may come
// after the first secret or never (a start that ends at once).
TEST(BackgroundChosenSecretStore, BeginsOnceWhicheverComesFirstAndEndsUnbegun) {
    TempDir dir;
    ScopedEnv choice("HAVENWAY_SECRET_STORE", "file");
    ScopedEnv file("HAVENWAY_SECRETS_FILE", dir.file("secrets.json").c_str());
    { auto never = makeSecretStoreInBackground(nullptr); }
    auto store = makeSecretStoreInBackground(nullptr);
    EXPECT_TRUE(store->writeString("svc", "key", "before"));
    store->begin();
    store->begin();
    EXPECT_EQ(store->read("svc", "key").text(), "before");
    auto begunFirst = makeSecretStoreInBackground(nullptr);
    begunFirst->begin();
    EXPECT_EQ(begunFirst->read("svc", "key").text(), "before");
}

// A keyring that answers takes over what the file held, and nothing is left in
// the file to be used once the keyring is gone again.
TEST(KeyringOverFileStore, TheFileMovesIntoTheKeyringAndRemovalsClearBoth) {
    TempDir dir;
    auto log = CaptureLog::install();
    FileSecretStore before(dir.file("secrets.json"));
    ASSERT_TRUE(before.writeString("svc", "username", "user@example.com"));
    ASSERT_TRUE(before.writeString("svc", "user_pass", "from-the-file"));
    auto keyringItems = std::make_unique<FakeSecretStore>();
    FakeSecretStore& keyring = *keyringItems;
    keyring.writeString("svc", "user_pass", "older-in-the-keyring");
    keyring.writeString("svc", "token", "r:kept");

    KeyringOverFileStore store(std::move(keyringItems), std::make_unique<FileSecretStore>(dir.file("secrets.json")));
    EXPECT_EQ(keyring.read("svc", "user_pass").text(), "from-the-file") << "the file's copy is the newer one";
    EXPECT_EQ(keyring.read("svc", "username").text(), "user@example.com");
    EXPECT_TRUE(before.readAll()->empty());
    EXPECT_TRUE(log->contains("moved 2 secrets"));
    EXPECT_FALSE(log->contains("from-the-file"));

    // A copy that reached the file some other way is cleared with the keyring's.
    before.writeString("svc", "token", "r:stale");
    EXPECT_EQ(store.read("svc", "token").text(), "r:kept");
    EXPECT_TRUE(store.remove("svc", "token"));
    EXPECT_EQ(before.read("svc", "token").status, SecretStatus::Absent);
    EXPECT_EQ(store.read("svc", "token").status, SecretStatus::Absent);
    log::setSink(nullptr);
}

TEST(KeyringOverFileStore, WhatCannotMoveStaysInTheFileAndIsStillFound) {
    TempDir dir;
    auto log = CaptureLog::install();
    FileSecretStore file(dir.file("secrets.json"));
    ASSERT_TRUE(file.writeString("svc", "username", "user@example.com"));
    auto keyringItems = std::make_unique<FakeSecretStore>();
    keyringItems->failWrites = true;
    FakeSecretStore& keyring = *keyringItems;
    KeyringOverFileStore store(std::move(keyringItems), std::make_unique<FileSecretStore>(dir.file("secrets.json")));
    EXPECT_TRUE(log->contains("moved 0 of 1 secrets"));
    EXPECT_EQ(store.read("svc", "username").text(), "user@example.com");
    // Once the keyring takes writes again, a new value leaves no older copy behind.
    keyring.failWrites = false;
    ASSERT_TRUE(store.writeString("svc", "username", "new@example.com"));
    EXPECT_EQ(file.read("svc", "username").status, SecretStatus::Absent);
    EXPECT_EQ(store.read("svc", "username").text(), "new@example.com");
    log::setSink(nullptr);
}

// The store's calls run on the queue's own thread; their answers come back
// on the main queue, never on the caller's stack, and in the order asked.
TEST(SecretStoreQueue, AnswersComeOnTheMainQueueInTheOrderAsked) {
    FakeSecretStore secrets;
    ManualQueue main;
    SecretStoreQueue queue(unownedSecretStore(secrets), main);
    std::vector<std::string> answers;
    queue.write("svc", "a", Bytes{'1'}, [&](bool ok) { answers.push_back(ok ? "wrote" : "failed"); });
    queue.read("svc", "a", [&](SecretRead r) { answers.push_back("read " + r.text()); });
    queue.remove("svc", "a", [&](bool ok) { answers.push_back(ok ? "removed" : "absent"); });
    queue.read("svc", "a", [&](SecretRead r) { answers.push_back(r.status == SecretStatus::Absent ? "gone" : "left"); });
    EXPECT_TRUE(answers.empty());
    ASSERT_TRUE(pollUntil([&] {
        main.runUntilIdle();
        return answers.size() == 4;
    }, std::chrono::seconds(10), std::chrono::milliseconds(1)));
    EXPECT_EQ(answers, (std::vector<std::string>{"wrote", "read 1", "removed", "gone"}));
}

// The backend client's synchronous view: its writes keep their order behind
// earlier calls, and a read that does not come back in time is an error, never
// an absent item.
TEST(QueuedSecretStore, WritesJoinTheQueueAndAReadWaitsABoundedWhile) {
    FakeSecretStore secrets;
    ManualQueue main;
    struct Inline final : BackgroundQueue {
        void async(Task task) override { task(); }
    } inlineWorker;
    struct Stuck final : BackgroundQueue {
        void async(Task) override {}
    } stuck;
    SecretStoreQueue answering(unownedSecretStore(secrets), main, inlineWorker);
    QueuedSecretStore store(answering, 1000);
    EXPECT_TRUE(store.writeString("svc", "token", "r:1"));
    EXPECT_EQ(store.read("svc", "token").text(), "r:1");
    EXPECT_TRUE(store.remove("svc", "token"));
    EXPECT_EQ(store.read("svc", "token").status, SecretStatus::Absent);

    auto log = CaptureLog::install();
    SecretStoreQueue silent(unownedSecretStore(secrets), main, stuck);
    EXPECT_EQ(QueuedSecretStore(silent, 0).read("svc", "token").status, SecretStatus::Error);
    EXPECT_TRUE(log->contains("the keychain has not answered"));
    log::setSink(nullptr);
}

}  // namespace
}  // namespace hw::test
