#pragma once
#include <string>
#include <vector>

#include "helper/helper_context.h"

namespace hw::helper {

// The tunnel's DNS servers: through systemd-resolved on the tunnel's link
// when resolved runs, else by rewriting resolv.conf. The original is saved
// once (repeated installs keep the first backup) and restored exactly.
class DnsSettings {
public:
    explicit DnsSettings(HelperContext& context) : ctx_(context) {}

    // Tunnel services tell what their tunnel pushed; used by install(). A
    // tunnel that comes up after its DNS was installed rewrites it with its
    // own servers, as openvpn may report connected before its up event lands.
    void setTunnelServers(std::vector<std::string> servers, std::string interface);
    // Whether a tunnel's up event has told its servers (none pushed counts)
    // and no down event has ended it since.
    bool tunnelUpHeard() const { return !tunnelInterface_.empty(); }

    bool install();
    bool installed() const { return installed_; }
    // Writes the backup ahead, while a tunnel starts, so that its install
    // finds it on the disk and need not wait for the disk itself. Nothing is
    // recorded: a backup the record does not name is never restored from.
    void stageBackup();
    // Nothing saved: nothing to do (true).
    bool restore();

    std::vector<std::string> serversToInstall() const;
    std::string backupFile() const { return ctx_.paths.stateDir + "/resolv.conf.saved"; }

private:
    bool resolvedRuns() const;
    std::string tunnelInterface();
    bool linkExists(const std::string& name);
    bool saveFileOnce();

    HelperContext& ctx_;
    std::vector<std::string> tunnelServers_;
    std::string tunnelInterface_;
    bool installed_ = false;
};

// The resolvers used when neither the tunnel nor the app named any.
inline const std::vector<std::string> kFallbackResolvers{"8.8.4.4", "8.8.8.8"};

}  // namespace hw::helper
