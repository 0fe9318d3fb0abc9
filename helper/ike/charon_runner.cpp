#include "helper/ike/charon_runner.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "helper/ike/run_program.h"
#include "helper/process_records.h"
#include "platform/log.h"

namespace hw::ike {

namespace {

// What the child reports through its status pipe before exec.
struct ChildFailure {
    int stage;
    int error;
};
enum Stage { StageNetns = 1, StagePort500, StagePort4500, StageUnshare, StageMount, StageExec, StageProbe };

bool writeFileAtomically(const std::string& path, const std::string& text, mode_t mode, std::string* error) {
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        if (error) *error = "writing " + path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = done == text.size() && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        if (error) *error = "writing " + path + " failed";
        return false;
    }
    return true;
}

bool makePrivateDir(const std::string& path, std::string* error) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error) *error = "creating " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        if (error) *error = path + " is not a folder of ours";
        return false;
    }
    ::chmod(path.c_str(), 0700);
    return true;
}

// Binding without SO_REUSEADDR fails while any other socket holds the port.
int portBusy(int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    const int r = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const int e = r == 0 ? 0 : errno;
    ::close(fd);
    return e == EADDRINUSE ? e : 0;
}

std::string seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s);
    return buf;
}

}  // namespace

CharonRunner::CharonRunner(CharonOptions options) : options_(std::move(options)) {}

CharonRunner::~CharonRunner() { stop(); }

std::string CharonRunner::strongswanConf(const CharonOptions& o, bool libipsec) {
    // Explicit load numbers: only what is named here loads. A higher number
    // loads first and the first IPsec backend registered wins, so libipsec
    // goes above kernel-netlink (which still serves routes and addresses).
    static const char* const kPlugins[] = {
        "random", "nonce", "x509", "revocation", "constraints", "pubkey", "pkcs1", "pkcs7", "pkcs8",
        "pkcs12", "pem", "openssl", "gmp", "aes", "sha1", "sha2", "md5", "hmac", "kdf", "curve25519",
        "socket-default", "vici", "eap-identity", "eap-mschapv2",
    };
    std::ostringstream c;
    c << "# Written by havenway-helper; charon reads it through STRONGSWAN_CONF.\n"
      << "charon {\n"
      << "  port = 500\n"
      << "  port_nat_t = 4500\n"
      << "  retransmit_tries = " << (o.retransmitTries < 0 ? 0 : o.retransmitTries) << "\n"
      << "  retransmit_timeout = " << seconds(o.retransmitTimeoutSeconds) << "\n"
      << "  retransmit_base = " << seconds(o.retransmitBase) << "\n"
      << "  install_routes = yes\n"
      << "  install_virtual_ip = yes\n"
      << "  load_modular = yes\n"
      << "  syslog {\n    daemon {\n      default = -1\n    }\n  }\n"
      << "  filelog {\n    havenway {\n      path = /run/charon.log\n      default = 1\n"
      << "      time_format = %b %e %T\n      ike_name = yes\n    }\n  }\n"
      << "  plugins {\n";
    for (const char* p : kPlugins) {
        c << "    " << p << " {\n      load = 1\n";
        if (std::strcmp(p, "vici") == 0) c << "      socket = unix:///run/charon.vici\n";
        c << "    }\n";
    }
    c << "    kernel-netlink {\n      load = 2\n    }\n";
    if (libipsec) c << "    kernel-libipsec {\n      load = 3\n    }\n";
    c << "  }\n}\n";
    return c.str();
}

bool CharonRunner::kernelHasEsp() {
    std::random_device rd;
    char spi[16];
    std::snprintf(spi, sizeof spi, "0x%08x", 0x10000000u | (rd() & 0x0fffffffu));
    std::string out;
    const int added = runProgram({"/usr/sbin/ip", "xfrm", "state", "add", "src", "127.0.0.1", "dst", "127.0.0.1",
                                  "proto", "esp", "spi", spi, "mode", "transport", "enc", "cbc(aes)",
                                  "0x000102030405060708090a0b0c0d0e0f"},
                                 std::chrono::seconds(5), &out);
    if (added != 0) return false;
    runProgram({"/usr/sbin/ip", "xfrm", "state", "delete", "src", "127.0.0.1", "dst", "127.0.0.1", "proto", "esp",
                "spi", spi},
               std::chrono::seconds(5));
    return true;
}

void CharonRunner::endStaleCharon() {
    // A charon of an earlier helper that did not get to stop it still holds
    // the IKE ports; its pid file in our private /run names it.
    std::ifstream in(runDir() + "/charon.pid");
    long pid = 0;
    if (!(in >> pid) || pid <= 1) return;
    char exe[4096] = {};
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = ::readlink(link.c_str(), exe, sizeof exe - 1);
    if (n <= 0 || std::string(exe, static_cast<std::size_t>(n)) != options_.charonPath) return;
    // The same program is not the same process: the pid may now belong to
    // another charon (the system's own). Ours started when recorded.
    std::ifstream started(runDir() + "/charon.start");
    unsigned long long recorded = 0;
    if (!(started >> recorded) || helper::ProcessRecords({}, "/proc").startTime(static_cast<pid_t>(pid)) != recorded)
        return;
    log::warning("ike", "ending a charon left behind by an earlier run");
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + options_.stopTimeout;
    // waitpid reaps it should it be a child of ours; others are init's to reap.
    while (::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) != pid && ::kill(static_cast<pid_t>(pid), 0) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            break;
        }
        ::poll(nullptr, 0, 10);
    }
}

bool CharonRunner::writeConfig(std::string* error) {
    if (!makePrivateDir(options_.workDir, error) || !makePrivateDir(runDir(), error)) return false;
    endStaleCharon();
    // A stale socket or pid file of an earlier run would fool the start wait.
    ::unlink(viciSocketPath().c_str());
    ::unlink((runDir() + "/charon.pid").c_str());
    return writeFileAtomically(runDir() + "/strongswan.conf", strongswanConf(options_, libipsec_), 0600, error);
}

bool CharonRunner::start(std::string* error) {
    if (running()) return true;
    switch (options_.esp) {
    case EspBackend::Kernel: libipsec_ = false; break;
    case EspBackend::Libipsec: libipsec_ = true; break;
    case EspBackend::Auto: libipsec_ = !kernelHasEsp(); break;
    }
    if (!writeConfig(error) || !spawn(error)) return false;
    if (!waitForSocket(error)) {
        stop();
        return false;
    }
    log::info("ike", std::string("charon started, ESP in ") + (libipsec_ ? "user space (libipsec)" : "the kernel"));
    return true;
}

bool CharonRunner::spawn(std::string* error) {
    // Everything the child needs is prepared here: after fork only system calls.
    const std::string runDir = this->runDir();
    const std::string outPath = runDir + "/charon.out";
    std::vector<std::string> env = {"STRONGSWAN_CONF=/run/strongswan.conf", "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string charon = options_.charonPath;
    char* argv[] = {charon.data(), nullptr};

    int netnsFd = -1;
    if (!options_.netnsPath.empty()) {
        netnsFd = ::open(options_.netnsPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (netnsFd < 0) {
            if (error) *error = "opening network namespace " + options_.netnsPath + ": " + std::strerror(errno);
            return false;
        }
    }
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    int status[2];
    if (outFd < 0 || ::pipe2(status, O_CLOEXEC) != 0) {
        if (netnsFd >= 0) ::close(netnsFd);
        if (outFd >= 0) ::close(outFd);
        if (error) *error = "preparing charon's start failed";
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        auto fail = [&](int stage, int err) {
            ChildFailure f{stage, err};
            [[maybe_unused]] auto n = ::write(status[1], &f, sizeof f);
            ::_exit(126);
        };
        ::setsid();
        if (netnsFd >= 0 && ::setns(netnsFd, CLONE_NEWNET) != 0) fail(StageNetns, errno);
        if (int e = portBusy(500)) fail(StagePort500, e);
        if (int e = portBusy(4500)) fail(StagePort4500, e);
        if (::unshare(CLONE_NEWNS) != 0) fail(StageUnshare, errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail(StageMount, errno);
        if (::mount(runDir.c_str(), "/run", nullptr, MS_BIND, nullptr) != 0) fail(StageMount, errno);
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, 0);
        ::dup2(outFd, 1);
        ::dup2(outFd, 2);
        ::execve(argv[0], argv, envp.data());
        fail(StageExec, errno);
    }
    ::close(status[1]);
    ::close(outFd);
    if (netnsFd >= 0) ::close(netnsFd);
    if (pid < 0) {
        ::close(status[0]);
        if (error) *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    ChildFailure f{};
    ssize_t n;
    do {
        n = ::read(status[0], &f, sizeof f);
    } while (n < 0 && errno == EINTR);
    ::close(status[0]);
    if (n == static_cast<ssize_t>(sizeof f)) {
        ::waitpid(pid, nullptr, 0);
        if (error) {
            switch (f.stage) {
            case StagePort500:
            case StagePort4500:
                *error = std::string("UDP port ") + (f.stage == StagePort500 ? "500" : "4500") +
                         " is already in use: another IKE daemon is running; stop it to connect with IKEv2";
                break;
            case StageNetns: *error = std::string("entering the network namespace: ") + std::strerror(f.error); break;
            case StageExec: *error = "starting " + options_.charonPath + ": " + std::strerror(f.error); break;
            default: *error = std::string("preparing charon's private /run: ") + std::strerror(f.error); break;
            }
        }
        return false;
    }
    pid_ = pid;
    const auto startTime = helper::ProcessRecords({}, "/proc").startTime(pid);
    std::string recordError;
    const std::string record = this->runDir() + "/charon.start";
    if (!startTime || !writeFileAtomically(record, std::to_string(*startTime), 0600, &recordError))
        log::warning("ike", "cannot record charon's start time; a later run will not stop it");
    return true;
}

bool CharonRunner::waitForSocket(std::string* error) {
    const auto deadline = std::chrono::steady_clock::now() + options_.startTimeout;
    const std::string path = viciSocketPath();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        if (error) *error = "charon's folder path is too long";
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    for (;;) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            const std::string tail = outputTail();
            if (error) {
                if (tail.find("Address already in use") != std::string::npos)
                    *error = "UDP port 500 or 4500 is already in use: another IKE daemon is running; stop it to connect with IKEv2";
                else
                    *error = "charon exited while starting: " + tail;
            }
            return false;
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
            ::close(fd);
            if (ok) return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            if (error) *error = "charon did not open its VICI socket in time";
            return false;
        }
        ::poll(nullptr, 0, 20);
    }
}

std::string CharonRunner::outputTail() const {
    std::string text;
    for (const auto& path : {runDir() + "/charon.out", logPath()}) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        text += s.str();
    }
    if (text.size() > 600) text = text.substr(text.size() - 600);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

bool CharonRunner::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        pid_ = -1;
        return false;
    }
    return true;
}

void CharonRunner::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + options_.stopTimeout;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(-pid_, SIGKILL);
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        ::poll(nullptr, 0, 10);
    }
    pid_ = -1;
}

}  // namespace hw::ike
