#pragma once
#include "connection/vpn_connection_manager.h"
#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "core/vpn_protocols.h"

namespace hw::test {

// A protocol chosen the way the Protocol pane's Apply does: the settings'
// value into the state object, whose notification the manager follows.
// PPTP is offered nowhere any more (the settings read it as automatic): the
// state object's value and the manager's reaction to that notification then.
inline void applyProtocolChoice(ApplicationModel& model, VPNConnectionManager& manager, VPNTypes protocol) {
    std::optional<VPNProtocols> offered;
    switch (protocol) {
        case VPNTypesAutomatic: offered = VPNProtocols::Automatic; break;
        case VPNTypesOpenVPN: offered = VPNProtocols::OpenVPN; break;
        case VPNTypesL2TP: offered = VPNProtocols::L2TP; break;
        case VPNTypesIKEv2: offered = VPNProtocols::IKEv2; break;
        case VPNTypesIKEv2_StrongSwan: offered = VPNProtocols::IKEv2_StrongSwan; break;
        case VPNTypesPPTP: break;
    }
    if (offered) {
        model.applySettings({{SettingsUserDefaults::vpnProtocols, std::string(rawValue(*offered))}});
    } else if (model.vpnProtocol != protocol) {
        model.vpnProtocol = protocol;
        manager.onVPNProtocolChanged();
    }
}

}  // namespace hw::test
