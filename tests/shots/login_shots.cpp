// --- login window: account creation states ---
#include <QLineEdit>

#include "controllers/auth_window_view_controller.h"
#include "controllers/auth_window_widget.h"
#include "controllers/recording_shell_commands.h"
#include "shots.h"
#include "sign_up_services.h"
#include "support/recording_url_opener.h"

namespace hw::shots {
namespace {

// The login window in its sign-up state on a fake backend that answers as told.
class LoginSignUpRig final : public QWidget {
public:
    LoginSignUpRig() {
        hub->appModel().authorizeForFreeTrialLink = "https://web.test/api/authorize";
        services.backend.web = [this](const HttpRequest&) { return test::FakeHttpClient::ok(authorizeReply); };
        services.backend.functions["signupForFreeTrial"] = [](const JSON&) {
            return test::FakeBackend::Reply::ok(JSON::parse(R"({"result":"success","message":"created"})"));
        };
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = true;
        controller = std::make_unique<AuthWindowViewController>(
            BaseControllerContext{hub->appModel(), nullptr, opener}, widget, widget,
            AuthWindowDependencies{services.auth, services.links, factory->queue, shell, nullptr, nullptr,
                                   &services.service}, false);
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
    SignUpServices services{*factory, hub->appModel()};
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
