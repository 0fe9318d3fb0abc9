// The sign-up window: its form, error bar, busy state and both later screens.
#include <QAbstractButton>
#include <QTest>

#include "app/sign_up_window_port_adapter.h"
#include "core/uuid_helper.h"
#include "services/free_trial_sign_up_service.h"
#include "shots.h"
#include "support/manual_queue.h"
#include "view/user_defaults_controller.h"
#include "windows/login/login_window_services.h"

namespace hw::shots {
namespace {

// The window on the login window's services, on a backend that is never reached.
class SignUpRig final : public QWidget, public test::LoginWindowServices<test::ManualQueue> {
public:
    SignUpRig() {
        window = std::make_unique<SignUpWindowPortAdapter>(
            context, FreeTrialSignUpDependencies{service, auth, links, queue, shell, &defaults, nullptr});
        window->widget().move(80, 40);
        window->showWindow();
        queue.runUntilIdle();
    }
    ~SignUpRig() override { window.reset(); }
    void type(const std::string& email, const std::string& password) {
        window->widget().setText(SignUpPart::emailAddressField, email);
        window->widget().setText(SignUpPart::passwordField, password);
    }

    UUIDHelper uuid{secrets, system, "svc"};
    FreeTrialSignUpService service{parse, backend, uuid, queue};
    UserDefaultsController defaults{settings};
    std::unique_ptr<SignUpWindowPortAdapter> window;
};

HW_SHOT("signup.form", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    rig.type("new.user@example.com", "secret1");
});

// Reached with Tab: the ring goes round the "Log in" link's words, inside the window.
HW_SHOT("signup.focus-log-in", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    stage.afterShown([&rig] {
        QWidget& window = rig.window->widget();
        window.activateWindow();
        (void)QTest::qWaitForWindowActive(&window, 2000);
        QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
        rig.window->widget().part(SignUpPart::existingUserButton)->setFocus(Qt::TabFocusReason);
    });
});

HW_SHOT("signup.error", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    rig.type("new.user@example", "secret1");
    static_cast<QAbstractButton*>(rig.window->widget().part(SignUpPart::agreeToOurTermsCheckbox))->setChecked(true);
    stage.afterShown([&rig] { rig.window->controller().onStartFreeButtonClicked(); });
    stage.advanceAnimations(600);
});

HW_SHOT("signup.terms-error", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    rig.type("new.user@example.com", "secret1");
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
    rig.queue.runUntilIdle();
});

HW_SHOT("signup.completed", [](ShotStage& stage) {
    auto& rig = stage.window<SignUpRig>();
    rig.type("new.user@example.com", "secret1");
    rig.window->controller().onSignUpSucceed();
    rig.queue.advance(1000);
    rig.queue.runUntilIdle();
});

}  // namespace
}  // namespace hw::shots
