#pragma once
#include <string>

#include "announcing_daemon.h"

namespace hw::test {

// A session bus of our own, so nothing reaches the user's.
class PrivateDBus {
public:
    bool start(std::string* reason) {
        if (!programOnPath("dbus-daemon")) {
            if (reason) *reason = "dbus-daemon is not installed (Debian package dbus-daemon)";
            return false;
        }
        if (!daemon_.start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address={fd}"},
                           std::chrono::seconds(15), reason))
            return false;
        address_ = daemon_.announcement();
        return true;
    }
    // For DBUS_SESSION_BUS_ADDRESS.
    const std::string& address() const { return address_; }

private:
    AnnouncingDaemon daemon_;
    std::string address_;
};

}  // namespace hw::test
