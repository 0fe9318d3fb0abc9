#include "platform/secret_store_factory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/file_secret_store.h"
#include "platform/secret_store_queue.h"
#include "support/capture_log.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/manual_queue.h"
#include "support/poll_until.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw::test {
namespace {

// A keyring that refuses writes leaves the item in the 0600 file (the log
// says why), where the next start finds it ahead of the keyring's older copy.
TEST(KeyringOverFileStore, AWriteTheKeyringRefusesIsKeptInTheFile) {
    TempDir dir;
    auto log = CaptureLog::install();
    auto over = [](const std::string& file) {
        auto keyring = std::make_unique<FakeSecretStore>();
        keyring->writeString("svc", "user_pass", "older");
        keyring->failWrites = true;
        return std::make_unique<KeyringOverFileStore>(std::move(keyring), std::make_unique<FileSecretStore>(file));
    };
    EXPECT_TRUE(over(dir.file("secrets.json"))->writeString("svc", "user_pass", "newer"));
    EXPECT_TRUE(log->contains("refused to store an item; keeping it in " + dir.file("secrets.json")));
    EXPECT_EQ(over(dir.file("secrets.json"))->read("svc", "user_pass").text(), "newer");
    EXPECT_FALSE(over("/proc/havenway-none/secrets.json")->writeString("svc", "user_pass", "x")) << "kept nowhere";
    log::setSink(nullptr);
}

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

// A keyring held up (its unlock prompt never completes) holds up the choice:
// beginning it again, and dropping the store at quit, return at once, and a
// caller on the store's own thread has the store once it is chosen.
TEST(BackgroundChosenSecretStore, NothingButAFirstCallWaitsForAChoiceHeldUp) {
    TempDir dir;
    ScopedEnv choice("HAVENWAY_SECRET_STORE", nullptr);
    ScopedEnv file("HAVENWAY_SECRETS_FILE", dir.file("secrets.json").c_str());
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    auto store = makeSecretStoreInBackground([released] {
        released.wait();
        return SecretServiceAnswer{SecretServiceAnswer::Kind::NoService, "test"};
    });
    store->begin();
    std::thread caller([&store] { EXPECT_TRUE(store->writeString("svc", "key", "value")); });
    const auto started = std::chrono::steady_clock::now();
    store->begin();
    store->begin(SecretServiceAnswer{SecretServiceAnswer::Kind::Ready, ""});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    release->set_value();
    caller.join();
    EXPECT_EQ(FileSecretStore(dir.file("secrets.json")).read("svc", "key").text(), "value");

    // Held for ever at quit: the store goes without waiting.
    auto never = std::make_shared<std::promise<void>>();
    std::shared_future<void> ends = never->get_future().share();
    auto held = makeSecretStoreInBackground([ends] {
        ends.wait();
        return SecretServiceAnswer{};
    });
    held->begin();
    held.reset();
    never->set_value();
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
    // A keyring that cannot answer (locked, its prompt dismissed) leaves the file's copy in use.
    keyring.failReads = true;
    EXPECT_EQ(store.read("svc", "username").text(), "user@example.com");
    EXPECT_EQ(store.read("svc", "other").status, SecretStatus::Error);
    keyring.failReads = false;
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
    secrets.failWrites = true;
    EXPECT_FALSE(store.writeString("svc", "token", "r:0")) << "a failed write is reported";
    secrets.failWrites = false;
    EXPECT_TRUE(store.writeString("svc", "token", "r:1"));
    EXPECT_EQ(store.read("svc", "token").text(), "r:1");
    EXPECT_TRUE(store.remove("svc", "token"));
    EXPECT_EQ(store.read("svc", "token").status, SecretStatus::Absent);

    auto log = CaptureLog::install();
    SecretStoreQueue silent(unownedSecretStore(secrets), main, stuck);
    EXPECT_EQ(QueuedSecretStore(silent, 0).read("svc", "token").status, SecretStatus::Error);
    EXPECT_TRUE(log->contains("the keychain has not answered"));
    EXPECT_FALSE(QueuedSecretStore(silent, 0).writeString("svc", "token", "r:2")) << "an unanswered write is no success";
    log::setSink(nullptr);
}

// A sign-out's removals are kept in the settings until the store has carried
// them out: until then the item reads as gone, and a start after a quit (or a
// crash) carries them out before anything is read.
TEST(SecretStoreQueue, ARemovalOutlastsTheRunThatAskedIt) {
    struct Row {
        const char* name;
        bool keyringAnswers;
        bool removalFails;
        bool signedInAgain;
        bool leftForNextStart;
        const char* readAtNextStart;  // nullptr: absent
    };
    const Row rows[] = {
        {"carried out at once", true, false, false, false, nullptr},
        {"the keyring stuck until quit", false, false, false, true, nullptr},
        {"the removal failing", true, true, false, true, nullptr},
        {"signed in again after it", true, false, true, false, "new"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSecretStore secrets;
        FakeSettingsStore settings;
        ManualQueue main;
        ASSERT_TRUE(secrets.writeString("svc", "user_pass", "old"));
        {
            ManualQueue worker;  // a keyring that answers only when the test says
            SecretStoreQueue queue(unownedSecretStore(secrets), main, worker);
            queue.keepRemovalsIn(settings);
            secrets.failRemoves = row.removalFails;
            queue.remove("svc", "user_pass");
            if (row.signedInAgain) queue.write("svc", "user_pass", Bytes{'n', 'e', 'w'});
            EXPECT_TRUE(settings.object(SecretStoreQueue::kPendingRemovalsKey)) << "recorded before the keyring is asked";
            std::optional<SecretRead> read;
            queue.read("svc", "user_pass", [&read](SecretRead r) { read = r; });
            if (row.keyringAnswers) worker.runUntilIdle();
            main.runUntilIdle();
            if (row.keyringAnswers && !row.signedInAgain) {
                ASSERT_TRUE(read);
                EXPECT_EQ(read->status, SecretStatus::Absent) << "a sign-out stands while the keyring still holds the item";
            }
            EXPECT_EQ(queue.removalPending("svc", "user_pass"), row.leftForNextStart);
            queue.finish(0);
        }
        EXPECT_EQ(settings.object(SecretStoreQueue::kPendingRemovalsKey).has_value(), row.leftForNextStart);
        secrets.failRemoves = false;
        ManualQueue worker;
        SecretStoreQueue next(unownedSecretStore(secrets), main, worker);
        next.keepRemovalsIn(settings);
        std::optional<SecretRead> read;
        next.read("svc", "user_pass", [&read](SecretRead r) { read = r; });
        worker.runUntilIdle();
        main.runUntilIdle();
        ASSERT_TRUE(read);
        EXPECT_EQ(read->status == SecretStatus::Found ? read->text() : "", row.readAtNextStart ? row.readAtNextStart : "");
        EXPECT_FALSE(settings.object(SecretStoreQueue::kPendingRemovalsKey));
    }
}

// A removal the queue took is carried out before the queue goes, finished or
// not, or left in that queue's own journal; the synchronous view's too.
TEST(SecretStoreQueue, ARemovalOutlivesTheQueueThatTookIt) {
    FakeSettingsStore settings;
    ManualQueue main;
    auto store = std::make_shared<FakeSecretStore>();
    ASSERT_TRUE(store->writeString("svc", "token", "r:1"));
    {
        SecretStoreQueue queue(store, main);  // on its own thread
        queue.remove("svc", "token");
    }
    EXPECT_EQ(store->read("svc", "token").status, SecretStatus::Absent);
    {
        ManualQueue stuck;  // a keyring that never answers
        SecretStoreQueue keychain(store, main, stuck), file(store, main, stuck);
        keychain.keepRemovalsIn(settings);
        file.keepRemovalsIn(settings, SecretStoreQueue::kFilePendingRemovalsKey);
        QueuedSecretStore(keychain, 0).remove("svc", "user_pass");
        file.remove("svc", "username");
    }
    EXPECT_EQ(settings.stringListForKey(SecretStoreQueue::kPendingRemovalsKey), StringList{"svc\nuser_pass"});
    EXPECT_EQ(settings.stringListForKey(SecretStoreQueue::kFilePendingRemovalsKey), StringList{"svc\nusername"});
}

// At quit, calls not begun are dropped but removals, which get a bounded
// while; what the keyring does not carry out in it stays for the next start.
TEST(SecretStoreQueue, AtQuitRemovalsGetABoundedWhile) {
    struct Gated final : SecretStore {
        SecretRead read(const std::string& s, const std::string& k) override {
            entered = true;
            opened.wait();
            return items.read(s, k);
        }
        bool write(const std::string& s, const std::string& k, const Bytes& d) override { return items.write(s, k, d); }
        bool remove(const std::string& s, const std::string& k) override { return items.remove(s, k); }
        FakeSecretStore items;
        std::shared_future<void> opened;
        std::atomic<bool> entered = false;
    };
    for (bool stuck : {false, true}) {
        SCOPED_TRACE(stuck ? "a keyring stuck on an earlier call" : "a keyring that answers");
        std::promise<void> gate;
        auto store = std::make_shared<Gated>();
        store->opened = gate.get_future().share();
        if (!stuck) gate.set_value();
        ASSERT_TRUE(store->items.writeString("svc", "token", "r:1"));
        FakeSettingsStore settings;
        ManualQueue main;
        {
            SecretStoreQueue queue(store, main);
            queue.keepRemovalsIn(settings);
            queue.read("svc", "appID", [](SecretRead) {});
            queue.remove("svc", "token");
            ASSERT_TRUE(pollUntil([&] { return store->entered.load(); }, std::chrono::seconds(10),
                                  std::chrono::milliseconds(1)));
            const auto started = std::chrono::steady_clock::now();
            queue.finish(300);
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        }
        EXPECT_EQ(settings.object(SecretStoreQueue::kPendingRemovalsKey).has_value(), stuck);
        EXPECT_EQ(store->items.size(), stuck ? 1u : 0u);
        if (stuck) gate.set_value();
    }
}

}  // namespace
}  // namespace hw::test
