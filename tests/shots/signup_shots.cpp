// The sign-up window: its form, error bar, busy state and both later screens.
#include <QAbstractButton>

#include "app/sign_up_window_port_adapter.h"
#include "controllers/recording_shell_commands.h"
#include "shots.h"
#include "sign_up_services.h"
#include "support/recording_url_opener.h"
#include "view/user_defaults_controller.h"

namespace hw::shots {
namespace {

class SignUpRig final : public QWidget {
public:
    SignUpRig() {
        window = std::make_unique<SignUpWindowPortAdapter>(
            BaseControllerContext{hub->appModel(), nullptr, opener},
            FreeTrialSignUpDependencies{services.service, services.auth, services.links, factory->queue, shell,
                                        &defaults, nullptr});
        window->widget().move(80, 40);
        window->showWindow();
        factory->queue.runUntilIdle();
    }
    ~SignUpRig() override { window.reset(); }
    void type(const std::string& email, const std::string& password) {
        window->widget().setText(SignUpPart::emailAddressField, email);
        window->widget().setText(SignUpPart::passwordField, password);
    }

    std::shared_ptr<test::FakeHubFactory> factory = std::make_shared<test::FakeHubFactory>();
    std::unique_ptr<ServiceLayer> hub = std::make_unique<ServiceLayer>(factory);
    test::RecordingURLOpener opener;
    test::RecordingShellCommands shell;
    UserDefaultsController defaults{factory->store};
    // The window's services on a backend that is never reached.
    SignUpServices services{*factory, hub->appModel()};
    std::unique_ptr<SignUpWindowPortAdapter> window;
};

HW_SHOT("signup.form", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    rig.type("new.user@example.com", "secret1");
});

HW_SHOT("signup.error", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    rig.type("new.user@example", "secret1");
    static_cast<QAbstractButton*>(rig.window->widget().part(SignUpPart::agreeToOurTermsCheckbox))->setChecked(true);
    stage.afterShown([&rig] { rig.window->controller().onStartFreeButtonClicked(); });
    stage.advanceAnimations(600);
});

HW_SHOT("signup.busy", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    rig.type("new.user@example.com", "secret1");
    rig.window->controller().showActivityIndicator();
});

HW_SHOT("signup.verify-email", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    rig.type("new.user@example.com", "secret1");
    rig.window->controller().showVerifyEmailView();
    rig.factory->queue.runUntilIdle();
});

HW_SHOT("signup.completed", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    rig.type("new.user@example.com", "secret1");
    rig.window->controller().onSignUpSucceed();
    rig.factory->queue.advance(1000);
    rig.factory->queue.runUntilIdle();
});

}  // namespace
}  // namespace hw::shots
