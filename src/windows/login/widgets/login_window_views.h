#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "view/base_controller_context.h"
#include "view/color_fill_views.h"
#include "view/kit_controls.h"

namespace hw {

// The red ground of the login window's error bar.
class LoginWindow_ErrorSubview : public ColorFillView {
    Q_OBJECT
public:
    explicit LoginWindow_ErrorSubview(QWidget* parent = nullptr);
};

// The light grey ground behind the login form's two fields.
class LoginViewInputFieldsBackground : public ColorFillView {
    Q_OBJECT
public:
    explicit LoginViewInputFieldsBackground(QWidget* parent = nullptr);
};

// The blue ground of the sign-up window.
class FreeTrialSignUpView : public ColorFillView {
    Q_OBJECT
public:
    explicit FreeTrialSignUpView(QWidget* parent = nullptr);
};

// A control that opens the account sign-up; any address a click carries is
// ignored.
class CreateAccountLinkedText : public NSButtonWithHandCursor {
    Q_OBJECT
public:
    explicit CreateAccountLinkedText(QWidget* parent = nullptr);
    // Set by the owner, usually to openAccountSignUp.
    std::function<void()> onOpenAccountSignUp;
    AnalyticsSink analytics;
    void openLinkProcessing(const std::string& ignoredURL);
    void sendAnalyticsEvent(const std::string& name, const std::optional<AnalyticsParameters>& parameters);
};

}  // namespace hw
