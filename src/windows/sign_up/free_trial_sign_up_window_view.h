#pragma once
#include <string>

namespace hw {

// The sign-up window's controls, as its controller names them.
enum class SignUpPart {
    logoImage,
    enterYourDetailsLabel,
    loginFieldsGroup,
    emailAddressField,
    passwordField,
    passwordRevealedField,
    revealPasswordButton,
    agreeToOurTermsCheckbox,
    termsOfServiceButton,
    existingUserLabel,
    existingUserButton,
    startFreeButton,
    signUpLoadingIndicator,
    activityIndicator,
    verifyEmailLabel,
    emailEnvelopeImage,
    weSentVerificationEmailLabel,
    sent_to_Email_addressField,
    checkInboxButton,
    resendVerificationEmailBar,
    alreadyVerifiedLabel,
    alreadyVerifiedButton,
    completedStateBackground,
    startFreeTrialButton,
};

// Where the error bar and its neighbours stand (offsets of the layout, in
// the kit's y-up points) and the bar's alpha.
struct SignUpErrorBarLayout {
    double barTopSpacing = 73.0;
    double fieldsGroupCenterY = -40.0;
    double logoTopSpacing = -2.0;
    double alpha = 0.0;
    bool operator==(const SignUpErrorBarLayout&) const = default;
};

// A title as code styles it: white, centred unless told.
struct SignUpTitleStyle {
    double pointSize = 12.0;
    bool bold = false;
    bool underline = false;
    bool operator==(const SignUpTitleStyle&) const = default;
};

class FreeTrialSignUpActions {
public:
    virtual ~FreeTrialSignUpActions() = default;
    virtual void onStartFreeButtonClicked() = 0;
    virtual void onLogInButtonClick() = 0;
    virtual void onShowPasswordButtonClick() = 0;
    virtual void onToSButtonClick() = 0;
    virtual void onCheckInboxButtonClick() = 0;
    virtual void onResendVerificationEmailClick() = 0;
    virtual void onAlreadyVerifiedLinkClick() = 0;
    virtual void onStartYourFreeTrialButtonClick() = 0;
    // ENTER in one of the three fields.
    virtual void onEnterPressed(SignUpPart field) = 0;
};

// What the sign-up window's controller asks of its widget.
class FreeTrialSignUpWindowView {
public:
    virtual ~FreeTrialSignUpWindowView() = default;
    virtual void setActions(FreeTrialSignUpActions* actions) = 0;

    virtual void setText(SignUpPart part, const std::string& text) = 0;
    virtual std::string text(SignUpPart part) const = 0;
    virtual void setTitle(SignUpPart part, const std::string& title, const SignUpTitleStyle& style) = 0;
    virtual void setPlaceholder(SignUpPart part, const std::string& text) = 0;
    virtual void setHidden(SignUpPart part, bool hidden) = 0;
    virtual bool isHidden(SignUpPart part) const = 0;
    virtual void setEnabled(SignUpPart part, bool enabled) = 0;
    virtual void setAnimating(SignUpPart part, bool animating) = 0;
    virtual bool isChecked(SignUpPart part) const = 0;
    virtual void focus(SignUpPart part) = 0;

    // Texts of the bar are set at once; the layout moves over durationMs.
    virtual void setErrorTexts(const std::string& upper, const std::string& lower) = 0;
    virtual void setErrorBarLayout(const SignUpErrorBarLayout& layout, int durationMs) = 0;
};

}  // namespace hw
