#pragma once
// A desktop for a tray in this process: a private X display and session bus,
// and, when asked, a panel's StatusNotifierWatcher.
#include <cstdlib>
#include <memory>
#include <string>

#include "support/fake_status_notifier_watcher.h"
#include "support/private_dbus.h"
#include "support/xvfb_server.h"

namespace hw::test {

struct TrayDesktop {
    // Why it cannot run here, or empty. Points this process's display, Qt
    // platform and session bus at it: call before the application exists.
    // anyUser: the bus serves an application of another uid too.
    std::string start(bool withWatcher, bool anyUser = false) {
        std::string why;
        if (!xvfb.start(&why)) return "no Xvfb: " + why;
        if (!bus.start(&why, true, anyUser)) return "no dbus-daemon: " + why;
        ::setenv("DISPLAY", xvfb.display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
        if (withWatcher) {
            watcher = std::make_unique<FakeStatusNotifierWatcher>(QString::fromStdString(bus.address()));
            if (!watcher->startServing()) return "the watcher could not take its name";
        }
        return {};
    }

    XvfbServer xvfb;
    PrivateDBus bus;
    std::unique_ptr<FakeStatusNotifierWatcher> watcher;
};

}  // namespace hw::test
