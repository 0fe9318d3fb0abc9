// The login window's states, on its controller over the fake backend.
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#if HW_SHOTS_ENTERPRISE_PAGE
#include <QWebEngineView>
#endif

#include "windows/login/auth_window_view_controller.h"
#include "windows/login/login_window_services.h"
#include "windows/login/widgets/auth_window_widget.h"
#if HW_SHOTS_ENTERPRISE_PAGE
#include "windows/login/enterprise/enterprise_service.h"
#endif
#include "core/uuid_helper.h"
#include "services/free_trial_sign_up_service.h"
#include "shots.h"
#include "texts/locale_data.h"
#include "support/fake_http_client.h"
#include "support/manual_queue.h"

// Chromium, for the enterprise page, frees some objects through their base
// types and leaves allocations at exit; neither is ours.
extern "C" [[gnu::used]] const char* __asan_default_options() {
    return "detect_leaks=0:new_delete_type_mismatch=0";
}

namespace hw::shots {
namespace {

// The window with everything it is handed; never shown itself. In the sign-up
// mode the fake backend creates accounts as told.
class LoginRig final : public QWidget, public test::LoginWindowServices<test::ManualQueue> {
public:
    enum class Mode { logIn, enterprise, signUp };
    explicit LoginRig(Mode mode = Mode::logIn) {
        backend.functions["authenticateUser"] = [](const JSON& p) {
            if (p["password"].string() != std::optional<std::string>("demo123456")) {
                return test::FakeBackend::Reply::ok(JSON::dictionaryLiteral({{"status", "failed"}}));
            }
            return test::FakeBackend::Reply::ok(
                JSON::dictionaryLiteral({{"status", "success"}, {"sessionToken", "r:shot"}, {"objectId", "user1"}}));
        };
        backend.functions["signupForFreeTrial"] = [](const JSON&) {
            return test::FakeBackend::Reply::ok(JSON::parse(R"({"result":"success","message":"created"})"));
        };
        backend.web = [this](const HttpRequest&) { return test::FakeHttpClient::ok(authorizeReply); };
        model.authorizeForFreeTrialLink = "https://web.test/api/authorize";
        EnterprisePageMaker makePage;
#if HW_SHOTS_ENTERPRISE_PAGE
        if (mode == Mode::enterprise) {
            makePage = [this](QWidget* parent) -> QWidget* {
                QWebEngineView* view = page.prepareEnterpriseVersionUI(parent);
                QObject::connect(view, &QWebEngineView::loadFinished, view, [this](bool) { pageLoaded = true; });
                return view;
            };
        }
#endif
        AuthWindowDependencies deps = dependencies();
        if (mode == Mode::signUp) deps.freeTrialService = &service;
        window = std::make_unique<AuthWindowWidget>(nullptr, makePage);
        controller = std::make_unique<AuthWindowViewController>(context, *window, *window, deps, mode == Mode::enterprise);
        if (mode != Mode::signUp) return;
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = true;
        open(40);
        window->setText(AuthPart::loginField, "new.user@example.com");
        window->setText(AuthPart::passwordField, "secret12");
    }
    ~LoginRig() override {
        controller.reset();
        window.reset();
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = false;
    }
    void remember(const std::string& user, const std::string& password) {
        auth.setRecentLoginData(LoginData{user, password, Bytes{1}});
    }
    void open(int y = 80) {
        controller->pendingLoginData = auth.recentLoginData();
        controller->showWindow();
        window->move(80, y);
        queue.runUntilIdle();
    }
    void signUp() {
        controller->onLoginButtonClick();
        queue.runUntilIdle();
    }

#if HW_SHOTS_ENTERPRISE_PAGE
    EnterpriseService page{settings, nullptr};
#endif
    bool pageLoaded = false;
    UUIDHelper uuid{secrets, system, "svc"};
    FreeTrialSignUpService service{parse, backend, uuid, queue};
    std::string authorizeReply = R"({"result":"success","authorization_token":"tok"})";
    std::unique_ptr<AuthWindowWidget> window;
    std::unique_ptr<AuthWindowViewController> controller;
};

// The window opened with these remembered credentials (none: nothing remembered), then a step.
void loginShot(const char* name, std::optional<std::string> password, std::function<void(LoginRig&)> then = nullptr) {
    addShot(name, [=](ShotStage& stage) {
        auto& rig = stage.window<LoginRig>();
        if (password) rig.remember("demo@havenway.test", *password);
        rig.open();
        if (!then) return;
        then(rig);
        rig.queue.runUntilIdle();
        stage.advanceAnimations(600);
    });
}

void signIn(LoginRig& rig) { rig.controller->startLogin(); }

HW_SHOTS({
    loginShot("login.log-in", "demo123456");
    loginShot("login.sign-up", std::nullopt);
    loginShot("login.signing-in", "demo123456", [](LoginRig& rig) {
        rig.backend.hold = true;
        signIn(rig);
    });
    loginShot("login.error", "", signIn);
    loginShot("login.error-wrong-password", "not-the-password", signIn);
    // A detail too wide for the bar's line.
    loginShot("login.error-two-lines", "demo123456", [](LoginRig& rig) {
        rig.controller->showGenericErorrNotification(
            std::string("The service could not sign you in just now. Please wait a minute and try again."));
    });
    loginShot("login.error-both-empty", "", [](LoginRig& rig) {
        rig.window->setText(AuthPart::loginField, "");
        signIn(rig);
    });
    // The box checked, as a remembered account with automatic sign-in has it.
    loginShot("login.sign-me-in", "demo123456", [](LoginRig& rig) {
        static_cast<QCheckBox*>(rig.window->part(AuthPart::signMeOnStart))->setChecked(true);
    });
    loginShot("login.no-internet", "demo123456",
              [](LoginRig& rig) { rig.controller->showInternetConnectionIsUnavailableNotification(); });
    // The Internet answers and the backend does not.
    loginShot("login.error-service-unreachable", "demo123456", [](LoginRig& rig) {
        rig.controller->showGenericErorrNotification(LocaleData::backend_unreachable_error_for_login_view());
    });
    // A store's own words, as long as libsecret's get.
    loginShot("login.account-not-restored", "demo123456", [](LoginRig& rig) {
        rig.controller->showAccountNotRestoredNotification(
            "The keyring answered: The name org.freedesktop.secrets was not provided by any .service files");
    });
    // A lock an earlier run left: a failed reachability check keeps its notice and Release link.
    loginShot("login.lock-held", "demo123456", [](LoginRig& rig) {
        rig.model.networkLockActivated = true;
        rig.controller->showInternetConnectionIsUnavailableNotification();
    });
});

// Reached with Tab: the ring hugs what the control draws, inside the window.
void focusShot(const char* name, AuthPart part, LoginRig::Mode mode = LoginRig::Mode::logIn) {
    addShot(name, [part, mode](ShotStage& stage) {
        auto& rig = stage.window<LoginRig>(mode);
        if (mode == LoginRig::Mode::logIn) {
            rig.remember("demo@havenway.test", "demo123456");
            rig.open();
        }
        stage.afterShown([&rig, part] {
            rig.window->activateWindow();
            (void)QTest::qWaitForWindowActive(rig.window.get(), 2000);
            QTest::keyClick(rig.window->windowHandle(), Qt::Key_Tab);
            rig.window->part(part)->setFocus(Qt::TabFocusReason);
        });
    });
}

HW_SHOTS({
    focusShot("login.focus-log-in", AuthPart::loginButton);
    focusShot("login.focus-need-help", AuthPart::needHelpLinkButton);
    focusShot("login.focus-sign-up-free", AuthPart::signUpFreeButton);
    focusShot("login.focus-log-in-link", AuthPart::logInLinkButton, LoginRig::Mode::signUp);
});

// Signed in with the remembered account, then out: the e-mail stays, the password goes.
HW_SHOT("login.after-sign-out", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>();
    rig.remember("demo@havenway.test", "demo123456");
    rig.open();
    rig.controller->close();
    rig.auth.logOut();
    rig.open();
});

#if HW_SHOTS_ENTERPRISE_PAGE
HW_SHOT("login.enterprise", [](ShotStage& stage) {
    if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
    auto& rig = stage.window<LoginRig>(LoginRig::Mode::enterprise);
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
#endif

HW_SHOT("login.sign-up-in-progress", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>(LoginRig::Mode::signUp);
    rig.controller->activateSignUpInProgress_state();
    rig.controller->showLoginProgressIndicator();
    rig.queue.runUntilIdle();
});

HW_SHOT("login.sign-up-error", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>(LoginRig::Mode::signUp);
    rig.authorizeReply = R"({"errorCode":11,"message":"exists"})";
    stage.afterShown([&rig] { rig.signUp(); });
    stage.advanceAnimations(600);
});

HW_SHOT("login.account-created", [](ShotStage& stage) {
    auto& rig = stage.window<LoginRig>(LoginRig::Mode::signUp);
    rig.signUp();
});

}  // namespace
}  // namespace hw::shots
