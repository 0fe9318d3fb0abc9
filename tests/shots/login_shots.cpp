// The login window's states, on its controller over the fake backend.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QWebEngineView>
#include <QWidget>
#include <memory>

#include "controllers/auth_window_view_controller.h"
#include "controllers/auth_window_widget.h"
#include "controllers/recording_shell_commands.h"
#include "controllers/web/enterprise_service.h"
#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "platform/backend/parse_client.h"
#include "services/auth_service.h"
#include "services/links_manager.h"
#include "shots.h"
#include "support/fake_backend.h"
#include "support/fake_image_codec.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/manual_queue.h"
#include "support/recording_url_opener.h"

// Chromium, for the enterprise page, frees some objects through their base
// types and leaves allocations at exit; neither is ours.
extern "C" [[gnu::used]] const char* __asan_default_options() {
    return "detect_leaks=0:new_delete_type_mismatch=0";
}

namespace hw::shots {
namespace {

// The window with everything it is handed; never shown itself.
class LoginRig final : public QWidget {
public:
    explicit LoginRig(bool enterprise = false) {
        settings.registerDefaults(SettingsUserDefaults::defaults());
        backend.functions["authenticateUser"] = [](const JSON& p) {
            if (p["password"].string() != std::optional<std::string>("demo123456")) {
                return test::FakeBackend::Reply::ok(JSON::dictionaryLiteral({{"status", "failed"}}));
            }
            return test::FakeBackend::Reply::ok(
                JSON::dictionaryLiteral({{"status", "success"}, {"sessionToken", "r:shot"}, {"objectId", "user1"}}));
        };
        EnterprisePageMaker makePage;
        if (enterprise) {
            makePage = [this](QWidget* parent) -> QWidget* {
                QWebEngineView* view = page.prepareEnterpriseVersionUI(parent);
                QObject::connect(view, &QWebEngineView::loadFinished, view, [this](bool) { pageLoaded = true; });
                return view;
            };
        }
        window = std::make_unique<AuthWindowWidget>(nullptr, makePage);
        controller = std::make_unique<AuthWindowViewController>(
            context, *window, *window, AuthWindowDependencies{auth, links, queue, shell}, enterprise);
    }
    ~LoginRig() override {
        controller.reset();
        window.reset();
    }
    void remember(const std::string& user, const std::string& password) {
        auth.setRecentLoginData(LoginData{user, password, Bytes{1}});
    }
    void open() {
        controller->pendingLoginData = auth.recentLoginData();
        controller->showWindow();
        window->move(80, 80);
        queue.runUntilIdle();
    }
    void type(const std::string& user, const std::string& password) {
        window->setText(AuthPart::loginField, user);
        window->setText(AuthPart::passwordField, password);
    }

    test::ManualQueue queue;
    test::ManualQueue background;
    test::FakeBackend backend{queue};
    test::FakeSecretStore secrets;
    test::FakeSettingsStore settings;
    test::FakeImageCodec codec;
    test::FakeSystemInfo system;
    ParseClient parse{test::FakeBackend::clientConfig(), backend, queue, secrets, settings};
    ApplicationModel model{ApplicationModelEnvironment{settings, queue, background, codec, backend, system}};
    AuthService auth{parse, secrets, model, "com.havenway.shots"};
    LinksManager links{model};
    test::RecordingURLOpener opener;
    test::RecordingShellCommands shell;
    BaseControllerContext context{model, nullptr, opener};
    EnterpriseService page{settings, nullptr};
    bool pageLoaded = false;
    std::unique_ptr<AuthWindowWidget> window;
    std::unique_ptr<AuthWindowViewController> controller;
};

HW_SHOT("login.log-in", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>();
    rig.remember("demo@havenway.test", "demo123456");
    rig.open();
});

HW_SHOT("login.sign-up", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>();
    rig.open();
});

HW_SHOT("login.signing-in", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>();
    rig.remember("demo@havenway.test", "demo123456");
    rig.open();
    rig.backend.hold = true;
    rig.controller->startLogin();
    rig.queue.runUntilIdle();
    stage.advanceAnimations(600);
});

HW_SHOT("login.error", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>();
    rig.remember("demo@havenway.test", "");
    rig.open();
    rig.controller->startLogin();
    rig.queue.runUntilIdle();
    stage.advanceAnimations(600);
});

HW_SHOT("login.error-two-lines", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>();
    rig.remember("demo@havenway.test", "not-the-password");
    rig.open();
    rig.controller->startLogin();
    rig.queue.runUntilIdle();
    stage.advanceAnimations(600);
});

HW_SHOT("login.no-internet", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>();
    rig.remember("demo@havenway.test", "demo123456");
    rig.open();
    rig.controller->showInternetConnectionIsUnavailableNotification();
    rig.queue.runUntilIdle();
    stage.advanceAnimations(600);
});

HW_SHOT("login.enterprise", [](ShotStage& stage) {
    if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
    auto& rig = stage.window<LoginRig>(true);
    rig.open();
    stage.afterShown([&rig] {
        // The page loads in Chromium's own time; a bounded wait for it.
        QElapsedTimer waited;
        waited.start();
        while (!rig.pageLoaded && waited.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
        // Then its first frame.
        waited.restart();
        while (waited.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    });
});

}  // namespace
}  // namespace hw::shots
