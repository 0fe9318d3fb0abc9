#pragma once
// A session bus of our own, so nothing reaches the user's.
#include <string>

#include "announcing_daemon.h"

namespace hw::test {

class PrivateDBus {
public:
    bool start(std::string* reason) {
        if (!daemon_.startInstalled("dbus-daemon",
                                    {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address={fd}"},
                                    reason))
            return false;
        return true;
    }
    // For DBUS_SESSION_BUS_ADDRESS.
    const std::string& address() const { return daemon_.announcement(); }

private:
    AnnouncingDaemon daemon_;
};

}  // namespace hw::test
