#include "services/enterprise_auth_service.h"

#include "core/global_constants.h"
#include "json/json.h"
#include "platform/log.h"
#include "services/form_encoding.h"

namespace hw {
namespace {

constexpr std::string_view kLog = "EnterpriseAuthService";
constexpr std::size_t kMaxValue = 4096;

bool acceptable(const std::string& text) {
    if (text.empty() || text.size() > kMaxValue) return false;
    for (unsigned char c : text) {
        if (c < 0x21 || c == 0x7f) return false;
    }
    return true;
}

}  // namespace

EnterpriseAuthService::EnterpriseAuthService(HttpClient& http)
    : EnterpriseAuthService(http, GlobalConstants::oauthTokenURL(), GlobalConstants::oauthUserInfoURL()) {}

EnterpriseAuthService::EnterpriseAuthService(HttpClient& http, std::string tokenURL, std::string userInfoURL)
    : http_(http), tokenURL_(std::move(tokenURL)), userInfoURL_(std::move(userInfoURL)) {}

EnterpriseAuthService::~EnterpriseAuthService() = default;

void EnterpriseAuthService::fail(const std::string& logLine, const std::string& reason) {
    log::warning(kLog, logLine);
    if (onFailure) onFailure(reason);
}

void EnterpriseAuthService::requestAuthToken(const std::string& code,
                                             std::function<void(const std::string&)> onCompleted) {
    if (!acceptable(code)) {
        fail("requestAuthToken() -- error - the authorization code is empty or malformed", "invalid authorization code");
        return;
    }
    HttpRequest request;
    request.method = "POST";
    request.url = tokenURL_;
    request.ignoreCache = true;
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}, {"Accept", "application/json"}};
    request.body = formBody({{"grant_type", "authorization_code"},
                             {"client_id", GlobalConstants::oauthClientID},
                             {"client_secret", GlobalConstants::oauthClientSecret},
                             {"redirect_uri", GlobalConstants::oauthCallbackURL},
                             {"code", code}});
    std::weak_ptr<bool> alive = alive_;
    http_.send(std::move(request), [this, alive, onCompleted](HttpResponse response) {
        if (alive.expired()) return;
        if (response.error) {
            fail("requestAuthToken() response - Error", "the identity service cannot be reached");
            return;
        }
        JSON json;
        try {
            json = JSON::fromData(response.body);
        } catch (const std::exception& e) {
            fail(std::string("requestAuthToken() Response is not in JSON format -- error: ") + e.what(),
                 "the identity service answered something unexpected");
            return;
        }
        auto token = json["access_token"].string();
        if (!token || !acceptable(*token)) {
            fail("requestAuthToken() -- error - 'access_token' parameter missing",
                 "the identity service refused the sign-in (status " + std::to_string(response.status) + ")");
            return;
        }
        log::info(kLog, "requestAuthToken() -- access token received");
        if (onCompleted) onCompleted(*token);
    });
}

void EnterpriseAuthService::requestClientIDUsingAccessToken(
    const std::string& accessToken, std::function<void(const std::string&, const std::string&)> onCompleted) {
    if (!acceptable(accessToken)) {
        fail("requestClientIDUsingAccessToken() -- error - the access token is empty or malformed", "invalid access token");
        return;
    }
    HttpRequest request;
    request.method = "GET";
    request.url = userInfoURL_;
    request.ignoreCache = true;
    request.headers = {{"Authorization", "Bearer " + accessToken}, {"Accept", "application/json"}};
    std::weak_ptr<bool> alive = alive_;
    http_.send(std::move(request), [this, alive, onCompleted](HttpResponse response) {
        if (alive.expired()) return;
        if (response.error) {
            fail("requestClientIDUsingAccessToken() response - Error", "the identity service cannot be reached");
            return;
        }
        auto json = JSON::parse(response.body);
        if (json.type() != JSON::Type::dictionary) {
            fail("requestClientIDUsingAccessToken() Response is not in JSON format",
                 "the identity service answered something unexpected");
            return;
        }
        auto username = json["user_metadata"]["username"].string();
        auto password = json["user_metadata"]["password"].string();
        if (!username || !password || username->empty() || password->empty()) {
            fail("requestClientIDUsingAccessToken() -- error - 'user_metadata' credentials missing",
                 "the identity service gave no VPN account (status " + std::to_string(response.status) + ")");
            return;
        }
        log::info(kLog, "requestClientIDUsingAccessToken() -- VPN account received");
        if (onCompleted) onCompleted(*username, *password);
    });
}

}  // namespace hw
