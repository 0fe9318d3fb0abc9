// The account in gnome-keyring and in the 0600 file, through the real stores:
// sign-out leaves no password or session token in either, only the e-mail the
// login window offers again.
#include "platform/file_secret_store.h"
#include "platform/libsecret_secret_store.h"
#include "platform/qt/secret_service_probe.h"
#include "services/auth_service.h"
#include "support/model_fixture.h"
#include "support/qt_test_app.h"
#include "support/scoped_env.h"
#include "support/secret_service_bed.h"

namespace hw {
namespace {

constexpr char kService[] = "com.havenway.keyring-itest";

class AccountKeyringTest : public test::ModelFixture {
protected:
    void SetUp() override {
        test::qtTestApp();
        if (const std::string why = bed.setUp(); !why.empty()) GTEST_SKIP() << why;
        env.set("HAVENWAY_SECRETS_FILE", files.file("secrets.json").c_str());
        env.set("HAVENWAY_SECRET_STORE", nullptr);
        store = makeSecretStore([this] {
            const QString name = QStringLiteral("keyring-itest");
            auto answer = askSecretService(QDBusConnection::connectToBus(QString::fromStdString(bed.address()), name));
            QDBusConnection::disconnectFromBus(name);
            return answer;
        });
        keyringParse = std::make_unique<ParseClient>(test::FakeBackend::clientConfig(), backend, queue, *store, settings);
        keyringQueue = std::make_unique<SecretStoreQueue>(unownedSecretStore(*store), queue, storeWorker);
        auth = std::make_unique<AuthService>(*keyringParse, *keyringQueue, *model, kService);
    }
    void TearDown() override {
        auth.reset();
        keyringQueue.reset();
        keyringParse.reset();
        store.reset();
        bed.tearDown();
    }

    test::SecretServiceBed bed;
    test::TempDir files;
    test::ScopedEnv env;
    std::unique_ptr<SecretStore> store;
    std::unique_ptr<ParseClient> keyringParse;
    std::unique_ptr<SecretStoreQueue> keyringQueue;
    std::unique_ptr<AuthService> auth;
};

TEST_F(AccountKeyringTest, SignOutClearsTheCredentialsInTheKeyringAndTheFile) {
    ASSERT_NE(dynamic_cast<KeyringOverFileStore*>(store.get()), nullptr) << "the keyring answered";
    bool done = false;
    auth->login("user@example.com", "secret", [&done](AuthResults r, std::optional<std::string>) {
        done = r == AuthResults::success;
    });
    queue.runUntilIdle();
    ASSERT_TRUE(done);
    LibsecretSecretStore keyring;
    EXPECT_EQ(keyring.read(kService, "user_pass").text(), "secret");
    EXPECT_EQ(keyring.read("com.havenway.test", ParseClient::kSessionTokenKey).text(), "r:token1");
    // Copies a session without a keyring could have left behind.
    FileSecretStore file(files.file("secrets.json"));
    ASSERT_TRUE(file.writeString(kService, "user_pass", "stale"));
    ASSERT_TRUE(file.writeString("com.havenway.test", ParseClient::kSessionTokenKey, "r:stale"));

    auth->logOut();
    queue.runUntilIdle();
    for (const char* key : {"username", "user_pass", "vpn_password2"}) {
        EXPECT_EQ(keyring.read(kService, key).status, SecretStatus::Absent) << key;
    }
    EXPECT_EQ(keyring.read("com.havenway.test", ParseClient::kSessionTokenKey).status, SecretStatus::Absent);
    EXPECT_TRUE(file.readAll()->empty());
    ASSERT_TRUE(auth->recentLoginData());
    EXPECT_EQ(auth->recentLoginData()->username, "user@example.com") << "the e-mail stays for the login window";
    EXPECT_EQ(auth->recentLoginData()->password, "");
}

}  // namespace
}  // namespace hw
