#include "services/links_manager.h"

#include "core/global_constants.h"
#include "platform/base64.h"
#include "services/form_encoding.h"

namespace hw {
namespace {

std::string replaceAll(std::string text, std::string_view from, const std::string& to) {
    std::size_t at = 0;
    while ((at = text.find(from, at)) != std::string::npos) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

std::optional<std::string> web(std::string url) {
    if (!isWebURL(url)) return std::nullopt;
    return url;
}

std::string base64(const std::string& text) { return b64::encode(Bytes(text.begin(), text.end())); }

}  // namespace

LinksManager::LinksManager(ApplicationModel& model)
    : termsOfServiceRawLink(GlobalConstants::termsOfServiceURL()), model_(model) {}

std::string LinksManager::baseAddress() const { return "https://" + model_.mainDomainName + "/"; }

std::string LinksManager::resolvedLinkString(const std::string& link) const {
    return replaceAll(link, "{$domainname}", model_.mainDomainName);
}

std::optional<std::string> LinksManager::forgotPasswordLink() const {
    return web(baseAddress() + GlobalConstants::passwordResetPath);
}

std::optional<std::string> LinksManager::createNewAccountLink() const {
    if (createNewAccountLink_Raw) return web(resolvedLinkString(*createNewAccountLink_Raw));
    return web(baseAddress() + GlobalConstants::signUpPath);
}

std::optional<std::string> LinksManager::termsOfServiceLink() const {
    return web(resolvedLinkString(termsOfServiceRawLink));
}

std::optional<std::string> LinksManager::knowledgeBaseURL() const {
    if (!knowledgeBaseLink_Raw) return std::nullopt;
    return web(resolvedLinkString(*knowledgeBaseLink_Raw));
}

std::optional<std::string> LinksManager::speedTestURL() const {
    if (!linksDataObject) return std::nullopt;
    return web(linksDataObject->settings_runSpeedTest);
}

std::optional<std::string> LinksManager::accountToken() const {
    auto login = model_.recentLoginData();
    if (!login) return std::nullopt;
    return "token=" + base64(base64(login->username) + ";" + base64(login->password));
}

std::optional<std::string> LinksManager::withToken(const std::string& link) const {
    auto resolved = resolvedLinkString(link);
    if (resolved.find("{$token}") != std::string::npos || resolved.find("{token}") != std::string::npos) {
        auto token = accountToken();
        if (!token) return std::nullopt;
        resolved = replaceAll(replaceAll(resolved, "{$token}", *token), "{token}", *token);
    }
    return web(resolved);
}

std::optional<std::string> LinksManager::supportTicketURL() const {
    if (!linksDataObject) return std::nullopt;
    return withToken(linksDataObject->settings_CreateSupportTicketLink);
}

std::optional<std::string> LinksManager::myAccountLink() const {
    if (!linksDataObject) return std::nullopt;
    return withToken(linksDataObject->main_window_myAccountLink);
}

std::optional<std::string> LinksManager::viewInvoicesLink() const {
    if (!linksDataObject) return std::nullopt;
    return withToken(linksDataObject->main_window_viewInvoicesLink);
}

std::optional<std::string> LinksManager::inviteFriendsLink() const {
    if (!linksDataObject) return std::nullopt;
    return withToken(linksDataObject->main_window_inviteFriendsLink);
}

std::optional<std::string> LinksManager::buildLink(const std::string& link) const { return withToken(link); }

std::optional<std::string> LinksManager::probeURL() const {
    if (!probeURLString) return std::nullopt;
    return web(*probeURLString);
}

}  // namespace hw
