#pragma once
// The login window of the testbed fixture with account creation on, and the
// sign-up window beside it, on the same real services.
#include <QAbstractButton>
#include <QDateTime>
#include <QMessageBox>

#include "services/free_trial_sign_up_service.h"
#include "view/qt_alert_view.h"
#include "view/user_defaults_controller.h"
#include "windows/shared/testbed_window_fixture.h"
#include "windows/sign_up/free_trial_sign_up_window_controller.h"
#include "windows/sign_up/widgets/free_trial_sign_up_window_widget.h"

namespace hw::test {

inline std::string freshEmail(const char* tag) {
    return std::string(tag) + "-" + std::to_string(QDateTime::currentMSecsSinceEpoch()) + "@havenway.test";
}

class SignUpTestbed : public TestbedWindowFixture {
protected:
    // One install per test, so the testbed's per-install limits never meet.
    std::string serial() const override { return "SIGNUP-" + std::to_string(QDateTime::currentMSecsSinceEpoch()); }
    void SetUp() override {
        TestbedWindowFixture::SetUp();
        if (IsSkipped()) return;
        hub->appModel().authorizeForFreeTrialLink = env->webUrl() + "/api/freeTrial/authorizeForFreeTrial_v2.php";
        controller.reset();  // the old one would clear the widget's actions on its way out
        controller = std::make_unique<AuthWindowViewController>(
            *context, *widget, *widget,
            AuthWindowDependencies{*hub->authService(), *hub->linksManager(), *queueHolder, shell, nullptr, &defaults,
                                   hub->freeTrialService().get()},
            false);
        signUpWidget = std::make_unique<FreeTrialSignUpWindowWidget>();
        signUp = std::make_unique<FreeTrialSignUpWindowController>(
            *context, *signUpWidget, *signUpWidget,
            FreeTrialSignUpDependencies{*hub->freeTrialService(), *hub->authService(), *hub->linksManager(),
                                        *queueHolder, shell, &defaults, nullptr});
    }
    void TearDown() override {
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = false;
        signUp.reset();
        signUpWidget.reset();
        TestbedWindowFixture::TearDown();
    }
    QLineEdit* field(QWidget* part) { return static_cast<QLineEdit*>(part); }
    void typeInto(QWidget* part, const std::string& text) {
        field(part)->clear();
        QTest::keyClicks(field(part), QString::fromStdString(text));
    }
    void fillSignUpWindow(const std::string& email, const std::string& password) {
        signUp->showWindow();
        typeInto(signUpWidget->part(SignUpPart::emailAddressField), email);
        typeInto(signUpWidget->part(SignUpPart::passwordField), password);
        static_cast<QAbstractButton*>(signUpWidget->part(SignUpPart::agreeToOurTermsCheckbox))->setChecked(true);
        QTest::mouseClick(signUpWidget->part(SignUpPart::startFreeButton), Qt::LeftButton);
    }
    void openLoginInSignUpMode() {
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = true;
        controller->showWindow();
        ASSERT_TRUE(spinUntil([this] { return controller->isInSignUpState(); }));
    }
    QMessageBox* alertBox() { return static_cast<QtAlertView&>(signUpWidget->alerts()).current(); }
    void clickLoginButton() { QTest::mouseClick(widget->part(AuthPart::loginButton), Qt::LeftButton); }

    UserDefaultsController defaults{settings};
    std::unique_ptr<FreeTrialSignUpWindowWidget> signUpWidget;
    std::unique_ptr<FreeTrialSignUpWindowController> signUp;
};

}  // namespace hw::test
