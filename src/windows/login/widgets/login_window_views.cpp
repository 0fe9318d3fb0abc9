#include "controllers/login_window_views.h"

#include "controllers/shell_commands.h"
#include "core/application_model.h"
#include "platform/log.h"
#include "platform/url_opener.h"
#include "services/links_manager.h"
#include "view/kit_color.h"

namespace hw {

LoginWindow_ErrorSubview::LoginWindow_ErrorSubview(QWidget* parent) : ColorFillView(kitColor("#dd5b5b"), parent) {}

LoginViewInputFieldsBackground::LoginViewInputFieldsBackground(QWidget* parent)
    : ColorFillView(kitColor("#efefef"), parent) {}

FreeTrialSignUpView::FreeTrialSignUpView(QWidget* parent) : ColorFillView(kitColor("#15A9EA"), parent) {}

void openAccountSignUp(const ApplicationModel& model, const LinksManager& links, ShellCommands& shell,
                       URLOpener& opener) {
    if (!model.rejectInAppFreeTrialSignUp) {
        shell.createNewAccountForAppStoreCommand();
        return;
    }
    const auto url = links.createNewAccountLink();
    if (url && (url->rfind("https://", 0) == 0 || url->rfind("http://", 0) == 0)) {
        opener.openURL(*url);
    } else {
        log::info("LoginView", "create-account link not configured or not a web address; nothing opened");
    }
}

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
