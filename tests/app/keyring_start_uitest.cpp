// The application as a user starts it, with the Secret Service its session
// has: none, one without a default collection, one that answers, and one
// whose unlock prompt never completes.
#include "app/havenway_process_fixture.h"
#include "support/fake_secret_service.h"
#include "support/secret_service_bed.h"

namespace hw::test {
namespace {

bool maps(pid_t pid, const std::string& library) {
    return TempDir::read("/proc/" + std::to_string(pid) + "/maps").find(library) != std::string::npos;
}

// libsecret, and GIO under it, come only with a keyring that has somewhere to
// keep the account; the last row shows the check can see them.
TEST(EditionLinkage, WithoutAKeyringOrItsDefaultCollectionTheApplicationMapsNoGioOrLibsecret) {
    const std::string binary = HW_BINARY_DIR "/src/havenway";
    if (::access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << "havenway is not built";
    struct Row {
        const char* name;
        bool keyring;
        bool fresh;
        bool mapsLibsecret;
    };
    const Row rows[] = {{"no Secret Service", false, false, false},
                        {"no default collection", true, true, false},
                        {"a keyring with a default collection", true, false, true}};
    for (const Row& row : rows) {
        PrivateDBus bare;
        SecretServiceBed bed;
        std::string address;
        if (row.keyring) {
            if (const std::string why = bed.setUp(row.fresh); !why.empty()) GTEST_SKIP() << why;
            address = bed.address();
        } else {
            std::string why;
            ASSERT_TRUE(bare.start(&why, false)) << why;
            address = bare.address();
        }
        TempDir dir;
        std::vector<std::string> env{"HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.file("config"),
                                     "XDG_DATA_HOME=" + dir.file("data"), "XDG_STATE_HOME=" + dir.file("state"),
                                     "HAVENWAY_RUNTIME_DIR=" + dir.file("run"),
                                     "HAVENWAY_HELPER_SOCKET=" + dir.file("no-helper.sock"),
                                     "HAVENWAY_BACKEND_HOST=http://127.0.0.1:9", "DBUS_SESSION_BUS_ADDRESS=" + address,
                                     "QT_QPA_PLATFORM=offscreen", "TMPDIR=" + dir.path(), "PATH=/usr/bin:/bin"};
        for (const char* sub : {"config", "data", "state", "run"}) std::filesystem::create_directories(dir.file(sub));
        const std::string log = dir.file("app.log");
        const pid_t app = spawnLogged({binary}, env, log);
        ASSERT_GT(app, 0);
        // The store is chosen once the first window is up; the install identifier then goes to it.
        const bool chosen = pollUntil([&] { return TempDir::read(log).find("install identifier") != std::string::npos; },
                                      60s, 50ms);
        EXPECT_TRUE(chosen) << row.name << ": " << TempDir::read(log);
        EXPECT_EQ(maps(app, "libsecret-1.so"), row.mapsLibsecret) << row.name;
        EXPECT_EQ(maps(app, "libgio-2.0.so"), row.mapsLibsecret) << row.name;
        ::kill(app, SIGTERM);
        EXPECT_EQ(waitChild(app, 15s), 0) << row.name << ": " << TempDir::read(log);
        if (row.keyring) bed.tearDown();
        else bare.stop();
    }
}

class KeyringAtStart : public HavenwayTray {};

// No one ever types the keyring's password: the login window shows as fast as
// without a keyring, empty, the tray answers, and the application quits when
// asked. (The line the wait ends in is the sign-in service's own case.)
TEST_F(KeyringAtStart, APromptThatNeverCompletesLeavesTheLoginWindowAndTheApplicationUsable) {
    StuckPromptSecretService keyring;
    ASSERT_TRUE(keyring.serve(QString::fromStdString(desktop.bus.address())));
    JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
    settings.set(SettingsUserDefaults::showWelcomePage, false);
    ASSERT_TRUE(settings.synchronize());
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    QElapsedTimer started;
    started.start();
    app = spawn(log());
    ASSERT_GT(app, 0);
    ASSERT_TRUE(spinUntil([&] { return keyboard.shownWindows().size() == 1; }, 10000)) << TempDir::read(log());
    EXPECT_LT(started.elapsed(), 10000);
    EXPECT_TRUE(spinUntil([&] { return keyring.prompts > 0; }, 10000)) << "the keychain is waiting on its prompt";
    EXPECT_TRUE(spinUntil([&] { return logged("LoginView -- sign-up mode") == 1; }, 10000)) << TempDir::read(log());
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 10000)) << TempDir::read(log());
    EXPECT_EQ(trayLayout(desktop.watcher->items().front()).labels(),
              (QStringList{"Open Havenway", "Sign In", "Quit Havenway"}));
    // The store's call still waits on the prompt: quitting does not.
    QElapsedTimer quitting;
    quitting.start();
    EXPECT_EQ(terminate(), 0) << TempDir::read(log());
    EXPECT_LT(quitting.elapsed(), 10000);
}

// Signed in when it last quit: the session token is behind the same prompt. The
// wait for it is bounded, and the login window shows rather than nothing.
TEST_F(KeyringAtStart, ASignedInStartBehindAPromptThatNeverCompletesShowsTheLoginWindow) {
    StuckPromptSecretService keyring;
    ASSERT_TRUE(keyring.serve(QString::fromStdString(desktop.bus.address())));
    JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
    settings.set(SettingsUserDefaults::showWelcomePage, false);
    settings.set("parseCurrentUser", std::string(R"({"objectId":"u1","username":"user@example.com"})"));
    ASSERT_TRUE(settings.synchronize());
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    app = spawn(log());
    ASSERT_GT(app, 0);
    EXPECT_TRUE(spinUntil([&] { return keyboard.shownWindows().size() == 1; }, 20000)) << TempDir::read(log());
    EXPECT_EQ(logged("the keychain has not answered in 5 s"), 1) << TempDir::read(log());
    EXPECT_EQ(terminate(), 0) << TempDir::read(log());
}

}  // namespace
}  // namespace hw::test
