#include "windows/login/widgets/login_window_views.h"

#include "view/kit_color.h"

namespace hw {

LoginWindow_ErrorSubview::LoginWindow_ErrorSubview(QWidget* parent) : ColorFillView(kitColor("#dd5b5b"), parent) {}

LoginViewInputFieldsBackground::LoginViewInputFieldsBackground(QWidget* parent)
    : ColorFillView(kitColor("#efefef"), parent) {}

FreeTrialSignUpView::FreeTrialSignUpView(QWidget* parent) : ColorFillView(kitColor("#15A9EA"), parent) {}

CreateAccountLinkedText::CreateAccountLinkedText(QWidget* parent) : NSButtonWithHandCursor(parent) {
    connect(this, &QPushButton::clicked, this, [this] { openLinkProcessing({}); });
}

void CreateAccountLinkedText::openLinkProcessing(const std::string&) {
    if (onOpenAccountSignUp) onOpenAccountSignUp();
}

void CreateAccountLinkedText::sendAnalyticsEvent(const std::string& name,
                                                 const std::optional<AnalyticsParameters>& parameters) {
    if (analytics) analytics(name, parameters);
}

}  // namespace hw
