#include <gtest/gtest.h>

#include "core/vpn_protocols.h"

namespace hw {
namespace {

// Stored settings carry these texts with their blanks; only the exact text names a protocol.
TEST(VPNProtocols, RawValuesAreExactWithTheirBlanks) {
    for (auto protocol : {VPNProtocols::Automatic, VPNProtocols::OpenVPN, VPNProtocols::L2TP, VPNProtocols::PPTP,
                          VPNProtocols::IKEv2, VPNProtocols::IKEv2_StrongSwan}) {
        EXPECT_EQ(vpnProtocolFromRawValue(rawValue(protocol)), protocol) << '[' << rawValue(protocol) << ']';
    }
    EXPECT_EQ(rawValue(VPNProtocols::IKEv2_StrongSwan), " IKEv2 ");
    for (const char* text : {"IKEv2", " ikev2", "IKEv2 ", " IKEv2  ", "Automatic", " automatic", "", " L2TP"}) {
        EXPECT_FALSE(vpnProtocolFromRawValue(text).has_value()) << '[' << text << ']';
    }
}

}  // namespace
}  // namespace hw
