#pragma once
#include <memory>
#include <string>

#include "hub/service_layer_ports.h"
#include "services/auth_service.h"
#include "services/parse_config_service.h"

// The hub's views of the sign-in service and the remote configuration.
namespace hw {

class AuthServiceAdapter final : public HubAuthPort {
public:
    explicit AuthServiceAdapter(AuthService& service) : service_(service) {}
    std::optional<LoginData> recentLoginData() const override { return service_.recentLoginData(); }
    void setOnLoginFinished(std::function<void(bool)> callback) override {
        service_.onLoginFinished_postProcessingCallback = std::move(callback);
    }
    // The outcome comes back through the callback above.
    void login(const std::string& username, const std::string& password) override {
        service_.login(username, password, [](AuthResults, std::optional<std::string>) {});
    }

private:
    AuthService& service_;
};

class ParseConfigServiceAdapter final : public HubParseConfigPort {
public:
    explicit ParseConfigServiceAdapter(ParseConfigService& service) : service_(service) {}
    void loadParseConfig(std::function<void()> completed,
                         std::function<void(const std::optional<std::string>&)> onError) override {
        service_.loadParseConfig(std::move(completed), [onError = std::move(onError)](OptionalParseError error) {
            if (!onError) return;
            onError(error ? std::optional<std::string>(error->message) : std::nullopt);
        });
    }
    void requestPublicIPInfo(const std::string& url, std::function<void(PublicAddressInfo)> completion) override {
        service_.requestPublicIPInfo(url, [completion = std::move(completion)](ParseConfigService::PublicAddressInfo i) {
            if (completion) completion({std::move(i.address), std::move(i.countryCode), std::move(i.timeZone), i.failed});
        });
    }
    void getAutomaticLocation(const std::string& address, const std::string& timeZone,
                              std::function<void(std::optional<std::string>)> completion) override {
        service_.getAutomaticLocation(address, timeZone, std::move(completion));
    }
    void setOnParseSessionExpired(SessionExpiredHandler handler) override {
        service_.onParseSessionExpired = std::move(handler);
    }

private:
    ParseConfigService& service_;
};

}  // namespace hw
