#pragma once
#include "windows/login/auth_window_view_controller.h"
#include "windows/sign_up/sign_up_road.h"

namespace hw {

// How the login window shows the sign-up road: the progress display, fixed
// error-bar texts by origin and code, and the account-created layout.
class AuthWindowViewController::SignUpDisplay final : public SignUpRoadDisplay {
public:
    explicit SignUpDisplay(AuthWindowViewController& window) : window_(window) {}

    // The two lines the bar shows for a failure with a code.
    static std::pair<std::string, std::string> errorTexts(const std::string& code, bool fromAuthorizeCall);

    void signUpStarted() override;
    void signUpEnded() override;
    void showSignUpError(const std::string& code, const std::string& message, bool fromAuthorizeCall) override;
    void showSignUpPlainError(const std::string& text, bool fromAuthorizeCall) override;
    void onSignUpSucceed() override;

private:
    AuthWindowViewController& window_;
};

}  // namespace hw
