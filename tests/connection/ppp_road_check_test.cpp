#include "connection/ppp_road_check.h"

#include <gtest/gtest.h>

namespace hw {
namespace {

// /dev/null stands in for the kernel's PPP device: a character device every
// user can see, as /dev/ppp is where the kernel has PPP.
TEST(PPPRoadCheck, NamesWhatTheRoadLacks) {
    const PPPRoadPaths ready{"/dev/null", "/bin/sh", "/bin/sh", "/bin/sh"};
    struct Row {
        const char* name;
        VPNTypes type;
        PPPRoadPaths paths;
        std::optional<std::string> why;
    };
    PPPRoadPaths noDevice = ready, plainFile = ready, noPppd = ready, noXl2tpd = ready, noPptp = ready;
    noDevice.device = "/nonexistent/ppp";
    plainFile.device = "/bin/sh";
    noPppd.pppd = "/nonexistent/pppd";
    noXl2tpd.xl2tpd = "/nonexistent/xl2tpd";
    noPptp.pptp = "/nonexistent/pptp";
    for (const Row& row : {
             Row{"L2TP, all there", VPNTypesL2TP, ready, std::nullopt},
             Row{"PPTP, all there", VPNTypesPPTP, ready, std::nullopt},
             Row{"no device", VPNTypesL2TP, noDevice, "no /nonexistent/ppp (the kernel has no PPP)"},
             Row{"a file where the device should be", VPNTypesPPTP, plainFile, "no /bin/sh (the kernel has no PPP)"},
             Row{"no pppd", VPNTypesL2TP, noPppd, "no /nonexistent/pppd"},
             Row{"no xl2tpd for L2TP", VPNTypesL2TP, noXl2tpd, "no /nonexistent/xl2tpd"},
             Row{"xl2tpd is not PPTP's", VPNTypesPPTP, noXl2tpd, std::nullopt},
             Row{"no pptp for PPTP", VPNTypesPPTP, noPptp, "no /nonexistent/pptp"},
             Row{"not a PPP road", VPNTypesOpenVPN, noDevice, std::nullopt},
         }) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(pppRoadCannotBeBuilt(row.type, row.paths), row.why);
    }
}

}  // namespace
}  // namespace hw
