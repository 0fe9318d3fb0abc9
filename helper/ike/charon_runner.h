#pragma once
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "helper/process_records.h"
#include "platform/helper_message.h"
#include "platform/process_runner.h"

namespace hw::ike {

enum class EspBackend { Auto, Kernel, Libipsec };

struct CharonOptions {
    // Root-owned folder of this charon; its "run" subfolder becomes charon's
    // private /run (pid file, VICI socket, strongswan.conf, log).
    std::string workDir;
    std::string charonPath = "/usr/lib/ipsec/charon";
    // A network namespace to run in (e.g. /run/netns/NAME); empty: ours.
    std::string netnsPath;
    EspBackend esp = EspBackend::Auto;
    int retransmitTries = 4;
    double retransmitTimeoutSeconds = 2.0;
    double retransmitBase = 1.5;
    std::chrono::milliseconds startTimeout{8000};
    std::chrono::milliseconds stopTimeout{3000};
};

// Runs one charon of our own: its own mount namespace with a private /run
// (charon's pid file is fixed there), its own strongswan.conf and VICI socket,
// its own routing table. Each charon is recorded (pid and start time), so a
// later helper or --reset can end one whose helper died.
class CharonRunner {
public:
    // Not strongSwan's default 220: clearing it can never take away the
    // routes of another IKE daemon on the machine.
    static constexpr int kRoutingTable = 4220;
    static constexpr int kRoutingRulePriority = 220;

    CharonRunner(CharonOptions options, ProcessRunner& runner);
    ~CharonRunner();
    CharonRunner(const CharonRunner&) = delete;
    CharonRunner& operator=(const CharonRunner&) = delete;

    // Starts charon and waits (bounded) until its VICI socket answers.
    // socketChanges: the caller's inotify instance for the wait on charon's
    // socket, kept across starts (see connectWhenListening); none: its own.
    // connection: receives the connection that found the socket answering,
    // so the caller need not make another; none: it is closed.
    bool start(std::string* error, UniqueFd* socketChanges = nullptr, UniqueFd* connection = nullptr);
    // TERM, a bounded wait, then KILL; then removes what charon may have
    // left (its routing rule and table, its files). Safe when not running.
    void stop();
    // ESP in user space: charon's own device carries the tunnel.
    bool userSpaceEsp() const { return libipsec_; }
    bool running();
    pid_t pid() const { return pid_; }
    bool usesLibipsec() const { return libipsec_; }

    std::string runDir() const { return options_.workDir + "/run"; }
    std::string viciSocketPath() const { return runDir() + "/charon.vici"; }
    std::string logPath() const { return runDir() + "/charon.log"; }

    // The configuration text charon reads; paths are as charon sees them.
    static std::string strongswanConf(const CharonOptions& options, bool libipsec);
    // Ends a charon of ours that outlived its helper (TERM, then KILL) and
    // removes what it installed. Only while this runner runs none.
    // True when an earlier run had one set up (its folder was left).
    bool endLeftovers();

private:
    bool writeConfig(std::string* error);
    void removeRouting();
    void removeFiles();
    bool tool(std::vector<std::string> args);
    bool spawn(std::string* error);
    bool waitForSocket(UniqueFd& changes, std::string* error, UniqueFd* connection);
    std::string outputTail() const;

    CharonOptions options_;
    ProcessRunner& runner_;
    helper::ProcessRecords records_;
    pid_t pid_ = -1;
    bool owned_ = false;  // started one whose traces stop() must clear
    bool libipsec_ = false;
};

}  // namespace hw::ike
