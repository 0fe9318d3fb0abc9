// The application as a user starts it, with the Secret Service its session
// has: none, one without a default collection, one that answers, and ones
// that are silent, late, or locked behind a prompt that never completes.
#include "app/havenway_process_fixture.h"
#include "support/fake_secret_service.h"
#include "support/secret_service_bed.h"
#include "testbed/testbed_env.h"

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

// A signed-in start as a user meets it, whatever the session's Secret Service
// does: one that takes every call and never answers, one that answers after
// 6 s, and one whose unlock prompt never completes, with the account still in
// the 0600 file (waiting to move) or only behind the prompt. The first window
// maps at once and says it restores the account, the account signs in from
// wherever it can be read, and a sign-out followed at once by a quit stands at
// the next start. With the testbed's backend, for the sign-in.
class KeyringAtStart : public HavenwayTray {
protected:
    // From the start to the first window mapped; -1 when none maps.
    long firstWindowMs(XKeyboard& keyboard) {
        itemsBefore_ = desktop.watcher->items().size();
        QElapsedTimer started;
        started.start();
        app = spawn(log());
        if (app <= 0 || !spinUntil([&] { return !keyboard.shownWindows().empty(); }, 20000)) return -1;
        return started.elapsed();
    }
    // The item this start registered: the panel's stand-in keeps those of
    // earlier starts, whose names are gone from the bus.
    QString trayItem() {
        if (!spinUntil([&] { return desktop.watcher->items().size() > itemsBefore_; }, 20000)) return {};
        return desktop.watcher->items().back();
    }
    // Once the item's menu shows the label; its labels as last read.
    QStringList trayLabelsOnce(const QString& service, const QString& label) {
        QStringList labels;
        spinUntil([&] { return (labels = trayLayout(service).labels()).contains(label); }, 10000);
        return labels;
    }
    qsizetype itemsBefore_ = 0;
};

TEST_F(KeyringAtStart, TheFirstWindowMapsAtOnceTheAccountSignsInAndASignOutStands) {
    using Mode = StuckPromptSecretService::Mode;
    const auto testbed = TestbedEnv::load();
    if (!testbed) GTEST_SKIP() << "the testbed is not up: " << TestbedEnv::path();
    struct Row {
        const char* name;
        Mode mode;
        bool accountInTheFile;
    };
    const Row rows[] = {
        {"silent", Mode::Silent, true},
        {"answering after 6 s", Mode::Late, true},
        {"locked, the file's items waiting to move", Mode::StuckPrompt, true},
        {"locked, the account only behind the prompt", Mode::StuckPrompt, false},
    };
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(dir.file("config"));
        std::filesystem::remove_all(dir.file("data"));
        std::filesystem::create_directories(dir.file("config"));
        rememberDemoAccount(*testbed, VPNProtocols::OpenVPN);
        env.erase("HAVENWAY_SECRET_STORE");
        // A keyring call held at exit by a prompt nobody answers keeps GIO's
        // state for it, which the leak check would count as ours.
        if (row.mode == Mode::StuckPrompt) env["ASAN_OPTIONS"] = "detect_leaks=0";
        else env.erase("ASAN_OPTIONS");
        if (!row.accountInTheFile) std::filesystem::remove(dir.file("data/havenway/secrets.json"));
        JsonSettingsStore settings(dir.file("config/havenway/settings.json"));
        settings.set("parseCurrentUser", std::string(R"({"objectId":"u1","username":"demo"})"));
        ASSERT_TRUE(settings.synchronize());
        StuckPromptSecretService keyring(row.mode);
        ASSERT_TRUE(keyring.serve(QString::fromStdString(desktop.bus.address())));

        const long shown = firstWindowMs(keyboard);
        ASSERT_GE(shown, 0) << TempDir::read(log());
        std::printf("%s: first window after %ld ms\n", row.name, shown);
        EXPECT_LT(shown, 3000) << "ten times the target, for a loaded machine";
        const QString service = trayItem();
        ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
        if (!row.accountInTheFile) {
            // Nothing can be read: the window keeps saying so, and quitting does not wait.
            spinFor(4000);
            EXPECT_EQ(logged("login process started"), 0) << TempDir::read(log());
            EXPECT_EQ(terminate(), 0) << TempDir::read(log());
            continue;
        }
        MenuNode menu;
        const MenuNode* signOut = nullptr;
        ASSERT_TRUE(spinUntil([&] { return (signOut = itemStarting(menu = trayLayout(service), "Sign Out")); }, 30000))
            << TempDir::read(log());
        trayClick(service, signOut->id);
        EXPECT_EQ(terminate(), 0) << TempDir::read(log());

        // The next start: the account is gone from every store the sign-out could reach, and never signs in.
        std::filesystem::rename(log(), dir.file("first.log"));
        ASSERT_GE(firstWindowMs(keyboard), 0) << TempDir::read(log());
        const QString again = trayItem();
        ASSERT_FALSE(again.isEmpty()) << TempDir::read(log());
        spinFor(4000);
        EXPECT_EQ(logged("login process started"), 0) << TempDir::read(log());
        EXPECT_TRUE(trayLabelsOnce(again, "Sign In").contains("Sign In")) << TempDir::read(log());
        EXPECT_EQ(terminate(), 0) << TempDir::read(log());
    }
}

}  // namespace
}  // namespace hw::test
