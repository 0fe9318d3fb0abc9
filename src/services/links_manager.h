#pragma once
#include <optional>
#include <string>

#include "core/application_model.h"

namespace hw {

// The configured web links, in the remote configuration's order.
struct LinksDataObject {
    std::string settings_CreateSupportTicketLink;
    std::string settings_runSpeedTest;
    std::string main_window_myAccountLink;
    std::string main_window_inviteFriendsLink;
    std::string main_window_viewInvoicesLink;
};

// Builds the addresses the windows open. Every answer is an absolute http or
// https URL, or nothing: links come from the backend and are opened as they
// are. Links that carry the account token are never logged.
class LinksManager {
public:
    explicit LinksManager(ApplicationModel& model);

    std::optional<LinksDataObject> linksDataObject;
    std::optional<std::string> createNewAccountLink_Raw;
    std::string termsOfServiceRawLink;
    std::optional<std::string> knowledgeBaseLink_Raw;
    std::optional<std::string> probeURLString;

    // "https://" + the main domain + "/".
    std::string baseAddress() const;
    std::optional<std::string> forgotPasswordLink() const;
    std::optional<std::string> createNewAccountLink() const;
    std::optional<std::string> termsOfServiceLink() const;
    std::optional<std::string> knowledgeBaseURL() const;
    std::optional<std::string> speedTestURL() const;
    // Carries the account token: never log it.
    std::optional<std::string> supportTicketURL() const;
    std::optional<std::string> myAccountLink() const;
    std::optional<std::string> viewInvoicesLink() const;
    std::optional<std::string> inviteFriendsLink() const;
    // A notification bar's or the widget's link, placeholders filled.
    std::optional<std::string> buildLink(const std::string& link) const;
    std::optional<std::string> probeURL() const;
    // The link with the domain filled in.
    std::string resolvedLinkString(const std::string& link) const;

    // "token=" + Base64(Base64(user) + ";" + Base64(password)); nothing while
    // nobody is signed in.
    std::optional<std::string> accountToken() const;

private:
    std::optional<std::string> withToken(const std::string& link) const;

    ApplicationModel& model_;
};

}  // namespace hw
