#pragma once
// A real openvpn server for end-to-end tests and benchmarks: a throw-away
// PKI, a server network namespace and a client namespace joined by a veth
// pair, username/password checked by verify_user.sh. Needs root, ip, openvpn
// and openssl; unavailable() says what is missing. Header-only so that tests
// and bench programs can share it.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace hw::testbed {

inline bool runQuiet(std::vector<std::string> argv, const std::string& logFile = "/dev/null") {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A child process that is stopped (TERM, then KILL) when this goes away.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(std::vector<std::string> argv, const std::string& logFile,
                 const std::vector<std::string>& extraEnv = {}) {
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        std::vector<std::string> envStore(extraEnv);
        for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        if (::posix_spawnp(&pid_, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ChildProcess(ChildProcess&& o) noexcept : pid_(o.pid_) { o.pid_ = -1; }
    ChildProcess& operator=(ChildProcess&& o) noexcept {
        stop();
        pid_ = o.pid_;
        o.pid_ = -1;
        return *this;
    }
    ~ChildProcess() { stop(); }
    pid_t pid() const { return pid_; }
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        return ::waitpid(pid_, &status, WNOHANG) == 0;
    }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 300 && running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (running()) ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds within) {
    auto deadline = std::chrono::steady_clock::now() + within;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class OpenVPNTestbed {
public:
    static constexpr const char* kUser = "hw-test-user";
    static constexpr const char* kPassword = "correct \"horse\" \\ battery";
    static constexpr const char* kServerAddress = "10.88.0.1";
    static constexpr const char* kTunnelGateway = "10.89.0.1";

    // What is missing for a run, or empty.
    static std::string unavailable() {
        if (::geteuid() != 0) return "needs root";
        if (::access("/usr/sbin/openvpn", X_OK) != 0) return "needs /usr/sbin/openvpn";
        if (::access("/dev/net/tun", R_OK | W_OK) != 0) return "needs /dev/net/tun";
        if (!runQuiet({"ip", "netns", "list"})) return "needs ip netns";
        if (!runQuiet({"openssl", "version"})) return "needs openssl";
        return {};
    }

    explicit OpenVPNTestbed(const std::string& sourceDir) {
        const std::string tag = std::to_string(::getpid());
        serverNs_ = "hwovs" + tag;
        clientNs_ = "hwovc" + tag;
        char tmpl[] = "/tmp/hw-openvpn-XXXXXX";
        dir_ = ::mkdtemp(tmpl) ? tmpl : "";
        const std::string scripts = sourceDir + "/testbed/openvpn";
        if (dir_.empty() || !runQuiet({scripts + "/make_pki.sh", dir_ + "/pki"}, log())) { fail("PKI"); return; }
        std::ofstream(dir_ + "/users") << kUser << "\n" << kPassword << "\n";
        std::ofstream(dir_ + "/server.conf")
            << "dev tun\nproto udp\nport 1194\ntopology subnet\nserver 10.89.0.0 255.255.255.0\n"
            << "ca " << dir_ << "/pki/ca.crt\ncert " << dir_ << "/pki/server.crt\nkey " << dir_ << "/pki/server.key\n"
            << "dh none\ntls-crypt " << dir_ << "/pki/tls-crypt.key\nverify-client-cert none\n"
            << "username-as-common-name\nscript-security 2\n"
            << "auth-user-pass-verify \"" << scripts << "/verify_user.sh " << dir_ << "/users\" via-file\n"
            << "push \"dhcp-option DNS " << kTunnelGateway << "\"\nkeepalive 10 60\nverb 3\n";
        const std::vector<std::vector<std::string>> setup{
            {"ip", "netns", "add", serverNs_},
            {"ip", "netns", "add", clientNs_},
            {"ip", "link", "add", "hwv" + tag + "a", "type", "veth", "peer", "name", "hwv" + tag + "b"},
            {"ip", "link", "set", "hwv" + tag + "a", "netns", serverNs_},
            {"ip", "link", "set", "hwv" + tag + "b", "netns", clientNs_},
            {"ip", "-n", serverNs_, "addr", "add", std::string(kServerAddress) + "/24", "dev", "hwv" + tag + "a"},
            {"ip", "-n", clientNs_, "addr", "add", "10.88.0.2/24", "dev", "hwv" + tag + "b"},
            {"ip", "-n", serverNs_, "link", "set", "hwv" + tag + "a", "up"},
            {"ip", "-n", clientNs_, "link", "set", "hwv" + tag + "b", "up"},
            {"ip", "-n", serverNs_, "link", "set", "lo", "up"},
            {"ip", "-n", clientNs_, "link", "set", "lo", "up"},
        };
        namespaces_ = true;
        for (const auto& step : setup)
            if (!runQuiet(step, log())) { fail("network namespaces"); return; }
        server_ = ChildProcess({"ip", "netns", "exec", serverNs_, "/usr/sbin/openvpn", "--config", dir_ + "/server.conf"},
                               dir_ + "/server.log");
        if (!waitFor([&] { return readText(dir_ + "/server.log").find("Initialization Sequence Completed") !=
                                  std::string::npos; },
                     std::chrono::seconds(10)))
            { fail("openvpn server did not start"); return; }
        ok_ = true;
    }

    ~OpenVPNTestbed() {
        leaveClientNamespace();
        server_.stop();
        if (namespaces_) {
            runQuiet({"ip", "netns", "del", serverNs_});
            runQuiet({"ip", "netns", "del", clientNs_});
        }
        std::error_code ec;
        if (!dir_.empty() && !std::getenv("HW_KEEP_TESTBED")) std::filesystem::remove_all(dir_, ec);
    }

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& dir() const { return dir_; }
    const std::string& clientNamespace() const { return clientNs_; }
    std::string log() const { return dir_ + "/testbed.log"; }

    // A client configuration for this server, as the backend would hand it out.
    std::string clientConfig() const {
        std::string c = "client\ndev tun\nproto udp\nremote " + std::string(kServerAddress) +
                        " 1194\nnobind\nauth-user-pass\nremote-cert-tls server\nverb 3\n";
        c += "<ca>\n" + readText(dir_ + "/pki/ca.crt") + "</ca>\n";
        c += "<tls-crypt>\n" + readText(dir_ + "/pki/tls-crypt.key") + "</tls-crypt>\n";
        return c;
    }

    // Moves the calling thread (and the threads and processes it starts
    // afterwards) into the client namespace.
    bool enterClientNamespace() {
        if (originalNs_ < 0) originalNs_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        int fd = ::open(("/var/run/netns/" + clientNs_).c_str(), O_RDONLY | O_CLOEXEC);
        bool ok = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) ::close(fd);
        return ok;
    }
    void leaveClientNamespace() {
        if (originalNs_ < 0) return;
        ::setns(originalNs_, CLONE_NEWNET);
        ::close(originalNs_);
        originalNs_ = -1;
    }

private:
    void fail(const std::string& what) {
        error_ = what + " (see " + log() + ")";
    }

    std::string dir_;
    std::string serverNs_;
    std::string clientNs_;
    bool namespaces_ = false;
    bool ok_ = false;
    std::string error_;
    ChildProcess server_;
    int originalNs_ = -1;
};

// Why the real helper of this build cannot be run next to the testbed, or empty.
inline std::string helperUnavailable(const std::string& helperBinary) {
    if (auto missing = OpenVPNTestbed::unavailable(); !missing.empty()) return missing;
    if (::access(helperBinary.c_str(), X_OK) != 0) return "no helper executable at " + helperBinary;
    return {};
}

// Starts the real helper in the current namespace with every path it touches
// redirected into dir. Answers its socket once it listens, or empty.
inline std::string startHelper(const std::string& helperBinary, const std::string& dir, ChildProcess& child) {
    std::ofstream(dir + "/helper.conf") << "uid=0\n";
    std::ofstream(dir + "/resolv.conf") << "nameserver 192.0.2.53\n";
    const std::string socket = dir + "/helper.sock";
    ::unlink(socket.c_str());
    child = ChildProcess({helperBinary}, dir + "/helper.log",
                         {"HAVENWAY_HELPER_SOCKET=" + socket, "HAVENWAY_HELPER_CONF=" + dir + "/helper.conf",
                          "HAVENWAY_HELPER_STATE_DIR=" + dir + "/state", "HAVENWAY_HELPER_RUN_DIR=" + dir + "/run",
                          "HAVENWAY_RESOLV_CONF=" + dir + "/resolv.conf",
                          "HAVENWAY_RESOLVED_DIR=" + dir + "/no-resolved"});
    if (!waitFor([&] { return ::access(socket.c_str(), F_OK) == 0; }, std::chrono::seconds(5))) return {};
    return socket;
}

}  // namespace hw::testbed
