#include "connection/abstract_vpn_connection_provider.h"

namespace hw {

void AbstractVPNConnectionProvider::connect(const VPNServiceConfig&, std::function<void()>, VPNStatusCallback) {}

void AbstractVPNConnectionProvider::prepare(const std::shared_ptr<VPNParseConfig>&, std::function<void()>,
                                            VPNStatusCallback) {}

std::int32_t AbstractVPNConnectionProvider::getExistingVPNConnectionProtocolType(const std::string&) { return 0; }

std::int32_t AbstractVPNConnectionProvider::retrieveConnectionAndSubscribeToStatusUpdates(const std::string&,
                                                                                          VPNStatusCallback, bool) {
    return 0;
}

void AbstractVPNConnectionProvider::startDial(std::function<void()>) {}
void AbstractVPNConnectionProvider::disconnect(std::function<void()>) {}
void AbstractVPNConnectionProvider::stopConnectionStatusUpdates() {}
void AbstractVPNConnectionProvider::deleteExistingVPNService(const std::string&) {}

}  // namespace hw
