#include <gtest/gtest.h>

#include <future>

#include "platform/keyring_over_file_store.h"
#include "platform/secret_store_queue.h"
#include "services/auth_service.h"
#include "support/fake_secret_store.h"
#include "support/gated_secret_store.h"
#include "support/model_fixture.h"
#include "support/poll_until.h"

namespace hw {
namespace {

using namespace std::chrono_literals;

using GatedKeyring = test::GatedSecretStore;

class AuthSignOutUnderAKeyring : public test::ModelFixture {
protected:
    // Runs the main queue until the condition holds (the stores answer on threads of their own).
    bool pump(const std::function<bool()>& until) {
        return test::pollUntil(
            [&] {
                queue.runUntilIdle();
                return until();
            },
            10s, 1ms);
    }
};

// Under a keyring that does not answer (silent, or its unlock prompt never
// completes) or answers late, a sign-in is remembered in the file at once, and
// a sign-out followed at once by a quit leaves neither password nor token in
// the file or the keyring (what the keyring may still hold stays journalled
// for the next start) and revokes the session.
TEST_F(AuthSignOutUnderAKeyring, ASignOutLeavesNoPasswordOrTokenAnywhere) {
    enum class Answers { Never, AfterTheQuit, BeforeTheSignOut };
    struct Row {
        const char* name;
        Answers answers;
    };
    const Row rows[] = {{"silent, or a prompt that never completes", Answers::Never},
                        {"late, answering after the quit", Answers::AfterTheQuit},
                        {"late, answering before the sign-out", Answers::BeforeTheSignOut}};
    const std::string service = test::FakeBackend::clientConfig().secretService;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        settings.remove(SecretStoreQueue::kPendingRemovalsKey);
        settings.remove(SecretStoreQueue::kFilePendingRemovalsKey);
        const std::string path = dir.file(std::string("secrets-") + std::to_string(static_cast<int>(row.answers)) + ".json");
        std::promise<void> gate;
        auto gated = std::make_unique<GatedKeyring>();
        GatedKeyring& keyring = *gated;
        keyring.opened = gate.get_future().share();
        auto store = std::make_shared<KeyringOverFileStore>(std::move(gated), std::make_unique<FileSecretStore>(path), 200);
        FileSecretStore file(path);
        const auto requestsBefore = backend.requestsTo("/logout").size();
        {
            SecretStoreQueue keychainQueue(store, queue);
            keychainQueue.keepRemovalsIn(settings);
            SecretStoreQueue fileQueue(std::make_shared<FileSecretStore>(path), queue);
            fileQueue.keepRemovalsIn(settings, SecretStoreQueue::kFilePendingRemovalsKey);
            QueuedSecretStore parseSecrets(keychainQueue, 5000);
            ParseClient client(test::FakeBackend::clientConfig(dir.file("datastore.sqlite")), backend, queue,
                               parseSecrets, settings, &keychainQueue);
            AuthService service_(client, keychainQueue, *model, service, &fileQueue);
            std::optional<AuthResults> result;
            service_.login("user@example.com", "secret", [&result](AuthResults r, auto) { result = r; });
            ASSERT_TRUE(pump([&] { return result.has_value(); }));
            EXPECT_EQ(result, AuthResults::success);
            ASSERT_TRUE(pump([&] { return file.read(service, "user_pass").text() == "secret" &&
                                          file.read(service, ParseClient::kSessionTokenKey).text() == "r:token1"; }))
                << "remembered in the file at once";
            if (row.answers == Answers::BeforeTheSignOut) {
                gate.set_value();
                ASSERT_TRUE(pump([&] { return log->contains("secrets from " + path + " into the Secret Service"); }));
                EXPECT_EQ(keyring.items.read(service, ParseClient::kSessionTokenKey).text(), "r:token1")
                    << "moved into the keyring once it answers";
                EXPECT_EQ(file.read(service, "user_pass").status, SecretStatus::Absent);
            }
            service_.logOut();
            queue.runUntilIdle();
            const auto quitting = std::chrono::steady_clock::now();
            fileQueue.finish(1000);
            keychainQueue.finish(3000);
            EXPECT_LT(std::chrono::steady_clock::now() - quitting, 2s) << "the quit waits one bound at most";
        }
        for (const char* key : {"user_pass", ParseClient::kSessionTokenKey}) {
            EXPECT_EQ(file.read(service, key).status, SecretStatus::Absent) << key;
        }
        if (row.answers == Answers::BeforeTheSignOut) {
            for (const char* key : {"user_pass", ParseClient::kSessionTokenKey})
                EXPECT_EQ(keyring.items.read(service, key).status, SecretStatus::Absent) << key;
        } else {
            // The keyring may hold what it never answered for: the next start removes it first.
            const auto journal = settings.stringListForKey(SecretStoreQueue::kPendingRemovalsKey).value_or(StringList{});
            EXPECT_NE(std::find(journal.begin(), journal.end(), service + "\n" + ParseClient::kSessionTokenKey), journal.end());
            EXPECT_NE(std::find(journal.begin(), journal.end(), service + "\nuser_pass"), journal.end());
        }
        ASSERT_EQ(backend.requestsTo("/logout").size(), requestsBefore + 1);
        store.reset();
        if (row.answers != Answers::BeforeTheSignOut) gate.set_value();
    }
}


// An automatic sign-in at the start, while the session the last run stored is
// still being read, waits for it and ends it first: never a second session
// beside it. A keyring that never gives it holds the sign-in only so long.
TEST_F(AuthSignOutUnderAKeyring, ASignInAtTheStartEndsTheStoredSessionFirst) {
    for (const bool keyringAnswers : {true, false}) {
        SCOPED_TRACE(keyringAnswers ? "the keyring answers" : "the keyring never answers");
        const std::string service = test::FakeBackend::clientConfig().secretService;
        test::FakeSecretStore stored;
        ASSERT_TRUE(stored.writeString(service, ParseClient::kSessionTokenKey, "r:stored"));
        settings.set(ParseClient::kCurrentUserKey, SettingValue(std::string(R"({"objectId":"user1"})")));
        test::ManualQueue keyringWorker;
        SecretStoreQueue keychainQueue(unownedSecretStore(stored), queue, keyringWorker);
        ParseClient client(test::FakeBackend::clientConfig(dir.file("datastore.sqlite")), backend, queue, stored,
                           settings, &keychainQueue);
        AuthService auth(client, keychainQueue, *model, service);
        backend.requests.clear();
        std::optional<AuthResults> result;
        auth.login("user@example.com", "secret", [&result](AuthResults r, auto) { result = r; });
        queue.runUntilIdle();
        EXPECT_TRUE(backend.requestsTo("/functions/authenticateUser").empty()) << "no session opened beside the stored one";
        if (keyringAnswers) keyringWorker.runUntilIdle();
        queue.runUntilIdle();
        if (!keyringAnswers) queue.advance(AuthService::kStoredSessionWaitMs);
        queue.runUntilIdle();
        ASSERT_EQ(result, AuthResults::success);
        std::vector<std::string> order;
        for (const auto& r : backend.requests) order.push_back(r.url.substr(r.url.rfind('/')));
        if (keyringAnswers) {
            ASSERT_GE(order.size(), 2u);
            EXPECT_EQ(order[0], "/logout") << "the stored session is ended first";
            EXPECT_EQ(backend.requestsTo("/logout").size(), 1u);
        } else {
            // Read only now: the session stored is revoked as soon as it is.
            keyringWorker.runUntilIdle();
            queue.runUntilIdle();
            keyringWorker.runUntilIdle();
            queue.runUntilIdle();
            EXPECT_EQ(backend.requestsTo("/logout").size(), 1u);
        }
        for (const auto& r : backend.requestsTo("/logout")) {
            bool withStored = false;
            for (const auto& [k, v] : r.headers) withStored = withStored || (k == "X-Parse-Session-Token" && v == "r:stored");
            EXPECT_TRUE(withStored);
        }
        auth.logOut();
        queue.runUntilIdle();
        keyringWorker.runUntilIdle();
        queue.runUntilIdle();
    }
}

}  // namespace
}  // namespace hw
