#pragma once
// A private X display for the tray, WebEngine and screenshots.
#include <string>

#include "announcing_daemon.h"

namespace hw::test {

class XvfbServer {
public:
    // Starts Xvfb on a free display with one 1600×1000×24 screen. A server that
    // outlives its owner (one kept for the whole process) ends with its last client
    // instead, so the process's exit takes it along without racing Qt's teardown.
    bool start(std::string* reason, bool endWithLastClient = false) {
        if (!daemon_.startInstalled("xvfb", {"Xvfb", "-displayfd", "{fd}", "-screen", "0", "1600x1000x24", "-nolisten",
                                             "tcp", endWithLastClient ? "-terminate" : "-noreset"},
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
