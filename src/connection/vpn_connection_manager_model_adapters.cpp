#include "connection/vpn_connection_manager_model_adapters.h"

#include "platform/log.h"

namespace hw {

void ApplicationModelConnectionContext::showHelperInstallAlert(const std::string& message, const std::string& info,
                                                               std::function<void(int)> completion) {
    if (alert_) {
        alert_(message, info, std::move(completion));
        return;
    }
    // No window to show it on: the attempt still has to end.
    log::warning("VPNManager", message + " -- " + info);
    if (completion) completion(0);
}

void ApplicationModelConnectionContext::writeLifeViews(const ConnectionLifeViews& views) {
    if (model_.autoReconnectInProgress() != views.reconnecting) model_.setAutoReconnectInProgress(views.reconnecting);
    model_.unsecured_Wi_Fi_VPN_activated = views.byWiFiSecurity;
    // Only on a change: an end on purpose lifts the lock once.
    if (model_.intensionallyDisconnectedVPN() != views.endedOnPurpose)
        model_.setIntensionallyDisconnectedVPN(views.endedOnPurpose);
}

}  // namespace hw
