// --- login window: account creation states ---
#include <QLineEdit>

#include "controllers/auth_window_view_controller.h"
#include "controllers/auth_window_widget.h"
#include "controllers/recording_shell_commands.h"
#include "core/uuid_helper.h"
#include "services/auth_service.h"
#include "services/free_trial_sign_up_service.h"
#include "services/links_manager.h"
#include "shots.h"
#include "support/fake_backend.h"
#include "support/fake_hub_factory.h"
#include "support/fake_system_info.h"
#include "support/recording_url_opener.h"

namespace hw::shots {
namespace {

// The login window in its sign-up state on a fake backend that answers as told.
class LoginSignUpRig final : public QWidget {
public:
    LoginSignUpRig() {
        hub->appModel().authorizeForFreeTrialLink = "https://web.test/api/authorize";
        backend.web = [this](const HttpRequest&) { return test::FakeHttpClient::ok(authorizeReply); };
        backend.functions["signupForFreeTrial"] = [](const JSON&) {
            return test::FakeBackend::Reply::ok(JSON::parse(R"({"result":"success","message":"created"})"));
        };
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = true;
        controller = std::make_unique<AuthWindowViewController>(
            BaseControllerContext{hub->appModel(), nullptr, opener}, widget, widget,
            AuthWindowDependencies{auth, links, factory->queue, shell, nullptr, nullptr, &service}, false);
        widget.move(80, 40);
        controller->showWindow();
        factory->queue.runUntilIdle();
        static_cast<QLineEdit*>(widget.part(AuthPart::loginField))->setText("new.user@example.com");
        static_cast<QLineEdit*>(widget.part(AuthPart::passwordField))->setText("secret12");
    }
    ~LoginSignUpRig() override {
        controller.reset();
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = false;
    }
    void signUp() {
        controller->onLoginButtonClick();
        factory->queue.runUntilIdle();
    }

    std::shared_ptr<test::FakeHubFactory> factory = std::make_shared<test::FakeHubFactory>();
    std::unique_ptr<ServiceLayer> hub = std::make_unique<ServiceLayer>(factory);
    test::RecordingURLOpener opener;
    test::RecordingShellCommands shell;
    test::FakeBackend backend{factory->queue};
    ParseClient parse{test::FakeBackend::clientConfig(), backend, factory->queue, factory->keychain, factory->store};
    test::FakeSystemInfo system;
    UUIDHelper uuid{factory->keychain, system, "svc"};
    AuthService auth{parse, factory->keychain, hub->appModel(), "svc"};
    FreeTrialSignUpService service{parse, backend, uuid, factory->queue};
    LinksManager links{hub->appModel()};
    std::string authorizeReply = R"({"result":"success","authorization_token":"tok"})";
    AuthWindowWidget widget;
    std::unique_ptr<AuthWindowViewController> controller;
};

HW_SHOT("login.sign-up-in-progress", [](ShotStage& stage) {
    auto& rig = stage.window<LoginSignUpRig>();
    rig.controller->activateSignUpInProgress_state();
    rig.controller->showLoginProgressIndicator();
    rig.factory->queue.runUntilIdle();
});

HW_SHOT("login.sign-up-error", [](ShotStage& stage) {
    auto& rig = stage.window<LoginSignUpRig>();
    rig.authorizeReply = R"({"errorCode":11,"message":"exists"})";
    stage.afterShown([&rig] { rig.signUp(); });
    stage.advanceAnimations(600);
});

HW_SHOT("login.account-created", [](ShotStage& stage) {
    auto& rig = stage.window<LoginSignUpRig>();
    rig.signUp();
});

}  // namespace
}  // namespace hw::shots
