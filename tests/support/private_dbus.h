#pragma once
// A session bus of our own, so nothing reaches the user's.
#include <optional>
#include <string>

#include "announcing_daemon.h"
#include "temp_dir.h"

namespace hw::test {

class PrivateDBus {
public:
    // Without activation the bus starts no services on demand: only the
    // daemons a test starts itself answer on it.
    bool start(std::string* reason, bool activation = true) {
        std::vector<std::string> argv{"dbus-daemon", "--nofork", "--nopidfile", "--print-address={fd}"};
        if (activation) {
            argv.push_back("--session");
        } else {
            config_.emplace();
            const std::string file = config_->file("bus.conf");
            TempDir::write(file,
                           "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig><type>session</type><listen>unix:path=" +
                               config_->file("bus") +
                               "</listen><auth>EXTERNAL</auth>"
                               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
            argv.push_back("--config-file=" + file);
        }
        return daemon_.startInstalled("dbus-daemon", std::move(argv), reason);
    }
    void stop() { daemon_.stop(); }
    // For DBUS_SESSION_BUS_ADDRESS.
    const std::string& address() const { return daemon_.announcement(); }

private:
    std::optional<TempDir> config_;
    AnnouncingDaemon daemon_;
};

}  // namespace hw::test
