#include "hub/service_layer.h"
#include "platform/log.h"

namespace hw {
namespace {

constexpr char kLog[] = "ServiceLayer";

}  // namespace

bool ServiceLayer::checkingIfNewAppVersionAvailable() {
    if (options_.isEnterpriseVersion) return false;
    const auto& announced = appModel_->newAppVersionString;
    if (!announced || !shell_.compareIfVersionIsLowerThanWithAnotherVersion) return false;
    if (!shell_.compareIfVersionIsLowerThanWithAnotherVersion(getAppVersion(), *announced)) return false;
    if (shell_.appDelegate) shell_.appDelegate->showAppUpgratePopup();
    return true;
}

void ServiceLayer::syncVPNAcccountDetails(std::function<void()> onComplited) {
    const auto login = authService_.port ? authService_.port->recentLoginData() : std::nullopt;
    if (!login) return;
    log::info(kLog, "PARSE call -- syncVPNAcccountDetails started..");
    if (!cloudFunctions_) {
        onMain(std::move(onComplited));
        return;
    }
    const JSON params = JSON::dictionaryLiteral(
        {{"username", login->username}, {"password", login->password}, {"source", options_.platformTag}});
    std::weak_ptr<bool> alive = alive_;
    cloudFunctions_->callFunction("syncVPNAcccountDetails", params,
                                  [this, alive, onComplited = std::move(onComplited)](bool succeeded) {
                                      if (alive.expired()) return;
                                      if (!succeeded) log::warning(kLog, "syncVPNAcccountDetails failed");
                                      if (onComplited) onMain(onComplited);
                                  });
}

void ServiceLayer::onParseSessionExpired(SessionRetry completion) {
    if (completion) pendingSessionRetries_.push_back(std::move(completion));
    if (!authService_.port) return;
    std::weak_ptr<bool> alive = alive_;
    authService_.port->setOnLoginFinished([this, alive](bool succeeded) {
        if (!alive.expired()) onSilentSignInFinished(succeeded);
    });
    // A second expiry while a sign-in is under way waits for that one.
    if (silentSignInInProgress_) return;
    const auto login = authService_.port->recentLoginData();
    // Without credentials the retries wait for the next sign-in, whoever starts it.
    if (!login || login->username.empty() || login->password.empty()) return;
    log::info(kLog, "backend session expired; signing in again");
    silentSignInInProgress_ = true;
    authService_.port->login(login->username, login->password);
}

void ServiceLayer::onSilentSignInFinished(bool succeeded) {
    silentSignInInProgress_ = false;
    if (succeeded) {
        // Each retry once; one that meets an expired session again queues anew.
        auto retries = std::move(pendingSessionRetries_);
        pendingSessionRetries_.clear();
        for (auto& retry : retries) retry();
        return;
    }
    if (!shell_.appDelegate) return;
    if (options_.isEnterpriseVersion) shell_.appDelegate->prepareEnterpriseVersionUI();
    shell_.appDelegate->openAuthWindow();
}

}  // namespace hw
