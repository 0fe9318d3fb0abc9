#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "helper/command_dispatcher.h"
#include "helper/helper_services.h"
#include "helper/openvpn/openvpn_event.h"

namespace hw::helper {

inline constexpr const char* kOpenVPNEventProgram = "havenway-openvpn-event";
inline constexpr const char* kOpenVPNEventPlugin = "havenway-openvpn-plugin.so";
// The small event program beside this executable, or this executable itself
// (which takes "--openvpn-event" too) when there is none.
std::string defaultEventProgram();
// The event plugin beside this executable; empty when there is none.
std::string defaultEventPlugin();
// A line of openvpn's output as the log may keep it: no user name.
std::string openvpnLogLine(std::string_view line);

struct OpenVPNServiceOptions {
    std::string openvpnBinary = "/usr/sbin/openvpn";
    // Runs as openvpn's up and down command ("--openvpn-event <socket>" is
    // added); empty: defaultEventProgram().
    std::string eventProgram;
    // Loaded into openvpn for the same events instead, when there is one;
    // empty: defaultEventPlugin().
    std::string eventPlugin;
    std::string configName = "config_current.ovpn";
    std::chrono::milliseconds listenTimeout{10000};
};

// "createOpenVPNConnection": checks the user's configuration file, keeps a
// filtered root-owned copy, starts openvpn with an argv of our own, with its
// management interface on a Unix socket in a folder only root can enter.
// It connects to that interface itself, proves the listener is the openvpn
// it started (pid and start time), and hands the connected descriptor to the
// app in the reply ("management"); the app never dials anything that a
// local user could have put in openvpn's place. Also takes the up/down
// events of the tunnel from our own event program, for DNS.
class OpenVPNService {
public:
    OpenVPNService(HelperServices& services, OpenVPNServiceOptions options);
    ~OpenVPNService();
    OpenVPNService(const OpenVPNService&) = delete;
    OpenVPNService& operator=(const OpenVPNService&) = delete;

    HelperMessage create(const HelperCommand& command);
    HelperMessage event(const HelperCommand& command);
    // "attachRunningOpenVPN": a fresh connection to the interface of the
    // openvpn we started and that still runs, for the uid that asked for it,
    // so that an app that restarted can take its tunnel over.
    HelperMessage attach(const HelperCommand& command);

    std::string configCopyPath() const;
    std::string managementPath() const;
    std::vector<std::string> openvpnArguments() const;
    // The running openvpn we started last, if any.
    std::optional<pid_t> runningPid() const;
    // The openvpn started last, running or not (until the next start).
    std::optional<pid_t> lastStartedPid() const;
    // The last started openvpn said its tunnel went down (it exits next).
    bool tunnelDown() const { return tunnelDown_; }

    // The devices of the tunnels this service's openvpns brought up and that still run.
    std::vector<std::string> tunnelDevices() const;

private:
    struct Child;
    std::optional<std::string> readUserConfig(const std::string& path, uid_t owner);
    struct Started {
        std::shared_ptr<Child> child;
        unsigned long long startTime = 0;
    };
    // appChannel: the app's channel; its close ends an openvpn not yet connected.
    std::optional<Started> spawn(uid_t owner, UniqueFd appChannel);
    void markConnected(pid_t pid, const std::string& gateway, const std::string& device);
    bool prepareManagementFolder() const;
    // A connection to the management socket once openvpn listens there and
    // only when the listener is the child itself; none when it exits first,
    // the time runs out or the listener is someone else.
    UniqueFd connectManagement(const Started& started, std::chrono::milliseconds timeout);
    void stopChildren();

    HelperServices& services_;
    OpenVPNServiceOptions options_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Child>> children_;
    bool tunnelDown_ = false;
    // Kept for the service's life: closing an inotify instance costs the
    // kernel a grace period, tens of milliseconds on a busy machine.
    UniqueFd folderChanges_;
};

void registerOpenVPNCommands(CommandDispatcher& dispatcher, HelperServices& services,
                             OpenVPNServiceOptions options = {});

}  // namespace hw::helper
