#pragma once
#include <string>


namespace hw {

// The login window's controls the controller speaks to.
enum class AuthPart {
    mainView,
    loginFieldsGroup,
    loginField,
    passwordField,
    usernameAndEmailIcon,
    passwordIcon,
    signMeOnStart,
    loginButton,
    loginProgressIndicator,
    logInSignUpLabel,
    forgotPasswordLink,
    createNewAccountLink,
    needHelpLinkButton,
    dontHaveAnAccountSubview,
    signUpFreeButton,
    alreadyHaveAccountSubview,
    logInLinkButton,
    creatingYourAccountSubview,
    accountCreatedSubview,
    signUpCompletedImage,
    tosSubview,
    tosPrefixLabel,
    tosLinkedButton,
    errorNotificationsBox,
    errorUpperText,
    errorLowerText,
    errorLowerTextSecondLine,
    yellowNotificationBar,
    yellowNotificationBarUpperText,
    yellowNotificationBarLowerText,
    // Under the yellow bar's title while a lock left from an earlier run
    // holds: releases it.
    liftNetworkLockButton,
};

// Where the two notice bars and the form stand: layout offsets in points
// from the window's top (bars) and centre (form); the view maps them to
// geometry. Alpha belongs here too, as the bars fade while they slide.
struct AuthBarLayout {
    double errorBarTop = 73.0;
    double yellowBarTop = 73.0;
    double fieldsCenterY = -25.0;
    double buttonPaddingBottom = 40.0;
    double errorBarHeight = 47.0;
    double errorTitleTop = 5.0;
    double errorTitleSpacing = 0.0;
    double errorDetailFontSize = 11.0;
    double errorAlpha = 0.0;
    double yellowAlpha = 0.0;
    bool operator==(const AuthBarLayout&) const = default;
};

// What the window's controls report; the controller implements it.
class AuthWindowActions {
public:
    virtual ~AuthWindowActions() = default;
    virtual void onLoginButtonClick() = 0;
    // ENTER in loginField or passwordField.
    virtual void onEnterPressed(AuthPart field) = 0;
    virtual void onSignUpFreeLinkButtonClick() = 0;
    virtual void onLogInLinkButtonClick() = 0;
    virtual void onForgotButtonClick() = 0;
    virtual void onNeedHelpLinkButtonClick() = 0;
    virtual void onToSButtonClick() = 0;
    virtual void onCreateNewAccountButtonClick() = 0;
    virtual void onLiftNetworkLockClick() = 0;
};

// The login window's content as its controller sees it; the window itself is
// the kit's WindowView. Texts are shown as plain text.
class AuthWindowView {
public:
    virtual ~AuthWindowView() = default;
    virtual void setActions(AuthWindowActions* actions) = 0;

    // Labels, button titles and the two fields' contents.
    virtual void setText(AuthPart part, const std::string& text) = 0;
    virtual std::string text(AuthPart part) const = 0;
    virtual void setPlaceholder(AuthPart field, const std::string& text) = 0;
    virtual void setHidden(AuthPart part, bool hidden) = 0;
    virtual void setEnabled(AuthPart part, bool enabled) = 0;
    virtual void setAlpha(AuthPart part, double alpha) = 0;
    virtual double alpha(AuthPart part) const = 0;
    virtual void setImage(AuthPart part, const std::string& imageName) = 0;

    virtual void focusField(AuthPart field) = 0;
    // The window itself takes the focus.
    virtual void clearFocus() = 0;
    virtual void setSpinning(bool spinning) = 0;

    // At once, or moved there over the duration.
    virtual void setBarLayout(const AuthBarLayout& layout) = 0;
    virtual void animateBarLayout(const AuthBarLayout& layout, int durationMs) = 0;

    // Replaces the form by the enterprise sign-in page and loads it; false
    // when no page can be made, and the form stays.
    virtual bool showEnterprisePage() = 0;

    // Whether the error bar's first detail line holds the whole text. The
    // character limit stands in for this where a window cannot measure.
    virtual bool errorDetailFitsOneLine(const std::string& /*text*/) const { return false; }
};

}  // namespace hw
