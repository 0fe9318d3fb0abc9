#include "platform/qt/secret_service_probe.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "platform/file_secret_store.h"
#include "platform/libsecret_secret_store.h"
#include "support/capture_log.h"
#include "support/qt_test_app.h"
#include "support/scoped_env.h"
#include "support/secret_service_bed.h"

namespace hw::test {
namespace {

using Kind = SecretServiceAnswer::Kind;

SecretServiceAnswer ask(const std::string& address) {
    const QString name = QStringLiteral("probe");
    SecretServiceAnswer answer = askSecretService(QDBusConnection::connectToBus(QString::fromStdString(address), name));
    QDBusConnection::disconnectFromBus(name);
    return answer;
}

// The bus says which store the secrets go to: gnome-keyring unlocked, fresh
// (no keyring made yet), or absent from the bus.
TEST(SecretServiceProbe, TellsAReadyKeyringFromAFreshOneAndFromNone) {
    qtTestApp();
    struct Row {
        const char* name;
        bool keyring;
        bool fresh;
        Kind expected;
    };
    const Row rows[] = {{"unlocked keyring", true, false, Kind::Ready},
                        {"fresh keyring", true, true, Kind::NoDefaultCollection},
                        {"no service", false, false, Kind::NoService}};
    for (const Row& row : rows) {
        if (!row.keyring) {
            PrivateDBus bus;
            std::string why;
            ASSERT_TRUE(bus.start(&why, false)) << why;
            QElapsedTimer t;
            t.start();
            EXPECT_EQ(ask(bus.address()).kind, row.expected) << row.name;
            EXPECT_LT(t.elapsed(), 5000) << "an absent name is refused at once";
            continue;
        }
        SecretServiceBed bed;
        if (const std::string why = bed.setUp(row.fresh); !why.empty()) GTEST_SKIP() << why;
        EXPECT_EQ(ask(bed.address()).kind, row.expected) << row.name;
        bed.tearDown();
    }
}

// An account the file kept while no keyring answered moves into the keyring
// once one does, and leaves the file.
TEST(SecretServiceProbe, TheFileMovesIntoAKeyringThatAnswers) {
    qtTestApp();
    SecretServiceBed bed;
    if (const std::string why = bed.setUp(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    ScopedEnv file("HAVENWAY_SECRETS_FILE", dir.file("secrets.json").c_str());
    ScopedEnv choice("HAVENWAY_SECRET_STORE", nullptr);
    FileSecretStore before(dir.file("secrets.json"));
    ASSERT_TRUE(before.writeString("com.havenway.Havenway", "username", "user@example.com"));
    ASSERT_TRUE(before.writeString("com.havenway.Havenway", "user_pass", "hunter2"));
    auto log = CaptureLog::install();
    auto store = makeSecretStore([&bed] { return ask(bed.address()); });
    EXPECT_EQ(store->read("com.havenway.Havenway", "user_pass").text(), "hunter2");
    EXPECT_EQ(LibsecretSecretStore().read("com.havenway.Havenway", "username").text(), "user@example.com");
    EXPECT_TRUE(before.readAll()->empty());
    EXPECT_TRUE(log->contains("keeping secrets in the Secret Service"));
    EXPECT_FALSE(log->contains("hunter2"));
    log::setSink(nullptr);
    bed.tearDown();
}

}  // namespace
}  // namespace hw::test
