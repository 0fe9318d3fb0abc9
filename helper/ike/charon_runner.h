#pragma once
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

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
// (charon's pid file is fixed there), its own strongswan.conf and VICI socket.
class CharonRunner {
public:
    explicit CharonRunner(CharonOptions options);
    ~CharonRunner();
    CharonRunner(const CharonRunner&) = delete;
    CharonRunner& operator=(const CharonRunner&) = delete;

    // Starts charon and waits (bounded) until its VICI socket answers.
    bool start(std::string* error);
    // TERM, a bounded wait, then KILL; safe to call when not running.
    void stop();
    bool running();
    pid_t pid() const { return pid_; }
    bool usesLibipsec() const { return libipsec_; }

    std::string runDir() const { return options_.workDir + "/run"; }
    std::string viciSocketPath() const { return runDir() + "/charon.vici"; }
    std::string logPath() const { return runDir() + "/charon.log"; }

    // The configuration text charon reads; paths are as charon sees them.
    static std::string strongswanConf(const CharonOptions& options, bool libipsec);
    // Whether the kernel can do ESP itself (probed with a throwaway xfrm state).
    static bool kernelHasEsp();

private:
    bool writeConfig(std::string* error);
    void endStaleCharon();
    bool spawn(std::string* error);
    bool waitForSocket(std::string* error);
    std::string outputTail() const;

    CharonOptions options_;
    pid_t pid_ = -1;
    bool libipsec_ = false;
};

}  // namespace hw::ike
