#pragma once
// A private X display for the tray, WebEngine and screenshots.
#include <string>

#include "announcing_daemon.h"

namespace hw::test {

class XvfbServer {
public:
    // Starts Xvfb on a free display with one 1600×1000×24 screen; it runs until
    // stopped, with its owner. (Xvfb's -terminate is no substitute: any client
    // that stays, a bus started for the display say, keeps it running.)
    bool start(std::string* reason) {
        if (!daemon_.startInstalled("xvfb", {"Xvfb", "-displayfd", "{fd}", "-screen", "0", "1600x1000x24", "-nolisten",
                                             "tcp", "-noreset"},
                                    reason))
            return false;
        display_ = ":" + daemon_.announcement();
        return true;
    }
    // ":N", for DISPLAY.
    const std::string& display() const { return display_; }

private:
    AnnouncingDaemon daemon_;
    std::string display_;
};

}  // namespace hw::test
