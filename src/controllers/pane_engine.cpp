#include "controllers/pane_engine.h"

#include "connection/vpn_connection_manager.h"

namespace hw {

std::optional<VPNTypes> VPNConnectionManagerPaneEngine::currentProviderType() const {
    if (!manager_.currentProvider) return std::nullopt;
    return manager_.currentProvider->type();
}

bool VPNConnectionManagerPaneEngine::connectionInitiateCanceled() const { return manager_.connectionInitiateCanceled(); }

void VPNConnectionManagerPaneEngine::setConnectionInitiateCanceled(bool value) {
    manager_.setConnectionInitiateCanceled(value);
}

void VPNConnectionManagerPaneEngine::installDNSForVPN() { manager_.installDNSForVPN(); }

}  // namespace hw
