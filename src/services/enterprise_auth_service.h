#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/http.h"

namespace hw {

// The OAuth client of the identity service: the authorisation-code exchange and
// the user-information request that yields the VPN credentials. Neither the
// code, the token nor the credentials are ever logged.
class EnterpriseAuthService {
public:
    // Defaults to the identity service of GlobalConstants.
    explicit EnterpriseAuthService(HttpClient& http);
    EnterpriseAuthService(HttpClient& http, std::string tokenURL, std::string userInfoURL);
    ~EnterpriseAuthService();

    // Called, besides the log line, whenever a request ends without its result,
    // so the login window can show it. Optional.
    std::function<void(const std::string& reason)> onFailure;

    void requestAuthToken(const std::string& code, std::function<void(const std::string& accessToken)> onCompleted);
    void requestClientIDUsingAccessToken(
        const std::string& accessToken,
        std::function<void(const std::string& username, const std::string& password)> onCompleted);

private:
    void fail(const std::string& logLine, const std::string& reason);

    HttpClient& http_;
    std::string tokenURL_;
    std::string userInfoURL_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
