// What the services read from the backend and the web API: the sign-up authorize
// reply, the public-address lookup, the notification bars, the sign-up call's
// refusal and the location objects with their server configurations.
#include <cstddef>
#include <cstdint>
#include <string>

#include "services/free_trial_sign_up_service.h"
#include "services/notifications_data.h"
#include "services/parse_config_service.h"
#include "services/vpn_configs_service.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    hw::HttpResponse response;
    response.status = 200;
    response.body = body;
    (void)hw::FreeTrialSignUpService::readAuthorizeReply(response);
    (void)hw::ParseConfigService::readPublicIPInfo(response, "UTC");

    const auto json = hw::JSON::parse(body);
    (void)hw::NotificationsData::fromJSON(json);
    hw::ParseError error;
    error.code = 141;
    error.payload = hw::JSON::dictionaryLiteral({{"error", body}});
    (void)hw::FreeTrialSignUpService::readSignUpReply(json, error);
    (void)hw::FreeTrialSignUpService::readSignUpReply(json, std::nullopt);

    std::vector<hw::ParseObject> objects;
    for (const auto& item : json["results"].arrayValue()) {
        objects.push_back(hw::ParseObject::fromJSON("VPNConfig", item, {}));
    }
    auto rows = hw::VPNConfigsService::rowsFrom(objects);
    for (const auto& row : rows) {
        if (row->vpnConfig) {
            (void)row->vpnConfig->setVPNServerIPAddress(row->name);
            (void)row->vpnConfig->setVPNServerIPAddress("10.0.0.1");
        }
    }
    hw::LocationsListModel model(std::move(rows));
    model.applySearchString(body.substr(0, 8));
    (void)model.listWithGroups();
    return 0;
}
