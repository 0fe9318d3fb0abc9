#include "app/hub_shell_services.h"
#include "connection/vpn_connection_manager.h"
#include "core/global_constants.h"
#include "network/internet_reachability_helper.h"
#include "platform/log.h"
#include "services/notification_bar_models.h"
#include "services/parse_config_service.h"

namespace hw {
namespace {

constexpr char kLog[] = "ShellServices";

class HelperWiring final : public ShellReachabilityWiring {
public:
    explicit HelperWiring(std::shared_ptr<InternetReachabilityHelper> helper) : h_(std::move(helper)) {}
    void stopReachability() override { h_->stopReachability(); }
    void addOnInternetNotReachableObserver(std::function<void()> o) override {
        h_->addOnInternetNotReachableObserver(std::move(o));
    }
    void addOnInternetReachableObserver(std::function<void()> o) override {
        h_->addOnInternetReachableObserver(std::move(o));
    }
    void clearOnWiFiConnectionINSECUREObservers() override { h_->clearOnWiFiConnectionINSECUREObservers(); }
    void addOnWiFiConnectionINSECUREObserver(std::function<void()> o) override {
        h_->addOnWiFiConnectionINSECUREObserver(std::move(o));
    }
    void addOnConnectedToWiFiNetworkObserver(std::function<void()> o) override {
        h_->addOnConnectedToWiFiNetworkObserver(std::move(o));
    }
    void reach(const std::string& host) override { h_->reach(host); }
    void addOnRoutesChangedObserver(std::function<void()> o) override { h_->addOnRoutesChangedObserver(std::move(o)); }

private:
    std::shared_ptr<InternetReachabilityHelper> h_;
};

}  // namespace

std::shared_ptr<ShellReachabilityWiring> HubShellServices::reachabilityWiring() {
    auto helper = hub_.internetReachabilityHelper();
    if (!helper) return nullptr;
    return std::make_shared<HelperWiring>(std::move(helper));
}

void HubShellServices::prepareAfterDataLoaded() {
    if (auto& m = hub_.vpnConnectionManager()) m->prepareAfterDataLoaded();
    else log::info(kLog, "no connection manager; step skipped");
}

void HubShellServices::onInternetConnectionLost() {
    if (auto& m = hub_.vpnConnectionManager()) m->onInternetConnectionLost();
}

void HubShellServices::onRoutesChanged() {
    auto& m = hub_.vpnConnectionManager();
    auto watch = hub_.internetReachabilityHelper();
    if (!m || !watch) return;
    m->routesChanged([watch](const std::string& address) { return watch->hasRoute(address); });
}

std::optional<std::string> HubShellServices::currentSessionToken() {
    const auto& user = parse_.currentUser();
    if (!user || user->sessionToken.empty()) return std::nullopt;
    return user->sessionToken;
}

void HubShellServices::requestSmartWidgetData(const std::string& sessionToken,
                                              std::function<void(SmartWidgetReply)> onCompleted,
                                              std::function<void(const std::string&)> onError) {
    auto service = hub_.smartWidgetService();
    if (!service) {
        if (onError) onError("no information widget service");
        return;
    }
    service->requestSmartWidgetData(GlobalConstants::parseApplicationId, sessionToken, std::move(onCompleted),
                                    std::move(onError));
}

void HubShellServices::requestNotificationBars(NotificationBarsDone done) {
    auto service = hub_.parseConfigService();
    if (!service) {
        if (done) done(nullptr, nullptr);
        return;
    }
    ParseClient* parse = &parse_;
    service->requestNotificationsData(
        [parse, done = std::move(done)](std::optional<NotificationsData> data, OptionalParseError error) {
            if (error) log::warning(kLog, "notification bars failed to load");
            std::shared_ptr<TopNotificationBarModel> top;
            std::shared_ptr<BottomNotificationBarModel> bottom;
            if (data && data->top) top = makeTopNotificationBarModel(*data->top);
            if (data && data->bottom) bottom = makeBottomNotificationBarModel(*data->bottom, parse);
            if (done) done(std::move(top), std::move(bottom));
        });
}

}  // namespace hw
