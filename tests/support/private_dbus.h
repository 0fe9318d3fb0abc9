#pragma once
// A session bus of our own, so nothing reaches the user's.
#include <sys/stat.h>

#include <optional>
#include <string>

#include "announcing_daemon.h"
#include "temp_dir.h"

namespace hw::test {

class PrivateDBus {
public:
    // Without activation the bus starts no services on demand: only the
    // daemons a test starts itself answer on it.
    // anyUser: clients of every uid may connect (an application the test runs
    // as an ordinary user); it implies no activation.
    bool start(std::string* reason, bool activation = true, bool anyUser = false) {
        std::vector<std::string> argv{"dbus-daemon", "--nofork", "--nopidfile", "--print-address={fd}"};
        if (activation && !anyUser) {
            argv.push_back("--session");
        } else {
            config_.emplace();
            // The socket lives here: another user must be able to reach it.
            if (anyUser) ::chmod(config_->path().c_str(), 0711);
            const std::string file = config_->file("bus.conf");
            TempDir::write(file,
                           "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig><type>session</type><listen>unix:path=" +
                               config_->file("bus") +
                               "</listen><auth>EXTERNAL</auth>"
                               "<policy context=\"default\">" + std::string(anyUser ? "<allow user=\"*\"/>" : "") +
                               "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
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
