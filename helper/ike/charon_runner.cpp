#include "helper/ike/charon_runner.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "helper/esp_probe.h"
#include "helper/helper_files.h"
#include "helper/nft_ruleset.h"
#include "helper/socket_wait.h"
#include "helper/tied_process.h"
#include "platform/log.h"

namespace hw::ike {

namespace {

// What the child reports through its status pipe before exec.
struct ChildFailure {
    int stage;
    int error;
};
enum Stage { StageNetns = 1, StagePort500, StagePort4500, StageUnshare, StageMount, StageExec, StageTie };

bool makePrivateDir(const std::string& path, std::string* error) {
    if (!helper::makeDirectories(path, 0700)) {
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
// IPv6 is checked on its own (V6ONLY): a socket bound to [::] with V6ONLY
// does not block the IPv4 bind, yet it keeps charon from its IPv6 socket.
int portBusy(int family, int port) {
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;  // a family the kernel lacks holds nothing
    sockaddr_storage storage{};
    socklen_t size = 0;
    if (family == AF_INET6) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<std::uint16_t>(port));
        a->sin6_addr = in6addr_any;
        size = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<std::uint16_t>(port));
        a->sin_addr.s_addr = htonl(INADDR_ANY);
        size = sizeof *a;
    }
    const int r = ::bind(fd, reinterpret_cast<sockaddr*>(&storage), size);
    const int e = r == 0 ? 0 : errno;
    ::close(fd);
    return e == EADDRINUSE ? e : 0;
}

int portBusy(int port) {
    if (int e = portBusy(AF_INET, port)) return e;
    return portBusy(AF_INET6, port);
}

std::string portTaken(const char* port) {
    return std::string("another program holds UDP port ") + port + "; stop it to connect with IKEv2";
}

std::string seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s);
    return buf;
}

}  // namespace

CharonRunner::CharonRunner(CharonOptions options, ProcessRunner& runner)
    : options_(std::move(options)), runner_(runner), records_(options_.workDir + "/processes", "/proc") {}

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
      << "  routing_table = " << kRoutingTable << "\n"
      << "  routing_table_prio = " << kRoutingRulePriority << "\n"
      << "  load_modular = yes\n"
      << "  syslog {\n    daemon {\n      default = -1\n    }\n  }\n"
      << "  filelog {\n    havenway {\n      path = /run/charon.log\n      default = 1\n"
      << "      time_format = %b %e %T\n      ike_name = yes\n    }\n  }\n"
      << "  plugins {\n";
    for (const char* p : kPlugins) {
        c << "    " << p << " {\n      load = 1\n";
        if (std::strcmp(p, "vici") == 0) c << "      socket = unix:///run/charon.vici\n";
        // The kill switch lets only marked packets reach the server.
        if (std::strcmp(p, "socket-default") == 0) c << "      fwmark = " << helper::kLockMark << "\n";
        c << "    }\n";
    }
    c << "    kernel-netlink {\n      load = 2\n    }\n";
    if (libipsec) c << "    kernel-libipsec {\n      load = 3\n    }\n";
    c << "  }\n}\n";
    return c.str();
}

bool CharonRunner::tool(std::vector<std::string> args) {
    ProcessRequest request;
    request.argv = {"ip"};
    if (!options_.netnsPath.empty()) {
        // Only a named namespace can be reached by ip; never act on ours instead.
        static const std::string kNamed = "/run/netns/";
        if (options_.netnsPath.rfind(kNamed, 0) != 0) return false;
        request.argv.insert(request.argv.end(), {"-n", options_.netnsPath.substr(kNamed.size())});
    }
    request.argv.insert(request.argv.end(), args.begin(), args.end());
    request.timeout = std::chrono::seconds(5);
    return runner_.run(request).ok();
}

void CharonRunner::removeRouting() {
    // A charon that ends on TERM removes these itself; one that was killed
    // leaves them, and its rule would send traffic into a table of ours.
    const std::string table = std::to_string(kRoutingTable);
    for (const char* family : {"-4", "-6"}) {
        for (int i = 0; i < 8 && tool({family, "rule", "del", "table", table}); ++i) {
        }
        tool({family, "route", "flush", "table", table});
    }
}

void CharonRunner::removeFiles() {
    for (const char* name : {"charon.vici", "charon.pid", "charon.log", "charon.out", "strongswan.conf"})
        ::unlink((runDir() + "/" + name).c_str());
    ::rmdir(runDir().c_str());
    ::rmdir((options_.workDir + "/processes").c_str());
    ::rmdir(options_.workDir.c_str());
}

bool CharonRunner::endLeftovers() {
    // The folder lives from a start to its stop: without it nothing is ours.
    struct stat st {};
    if (running() || ::lstat(options_.workDir.c_str(), &st) != 0) return false;
    if (records_.terminateAll(options_.stopTimeout) > 0) log::warning("ike", "ended a charon left behind by an earlier run");
    removeRouting();
    removeFiles();
    return true;
}

bool CharonRunner::writeConfig(std::string* error) {
    // Also clears a stale socket or pid file that would fool the start wait.
    endLeftovers();
    if (!makePrivateDir(options_.workDir, error) || !makePrivateDir(runDir(), error)) return false;
    // No fsync: the file serves one charon and is written anew for the next;
    // on a busy disk the flush cost milliseconds of every connect.
    return helper::writeFileAtomically(runDir() + "/strongswan.conf", strongswanConf(options_, libipsec_), 0600, error,
                                       /*durable=*/false);
}

bool CharonRunner::start(std::string* error, UniqueFd* socketChanges, UniqueFd* connection) {
    if (running()) return true;
    switch (options_.esp) {
    case EspBackend::Kernel: libipsec_ = false; break;
    case EspBackend::Libipsec: libipsec_ = true; break;
    case EspBackend::Auto: libipsec_ = !helper::kernelSupportsEsp(runner_); break;
    }
    if (!writeConfig(error) || !spawn(error)) return false;
    owned_ = true;
    if (!records_.record(pid_)) log::warning("ike", "could not record charon's process; --reset will not find it");
    UniqueFd ownChanges;
    if (!waitForSocket(socketChanges ? *socketChanges : ownChanges, error, connection)) {
        stop();
        return false;
    }
    log::info("ike", std::string("charon started, ESP in ") + (libipsec_ ? "user space (libipsec)" : "the kernel"));
    return true;
}

namespace {

// What the child needs, all prepared before it runs: it shares our memory
// and may make only system calls.
struct ChildPlan {
    char* const* argv;
    char* const* envp;
    const char* runDir;
    int netnsFd;
    int outFd;
    int statusFd;
    const sigset_t* mask;  // the caller's signal mask, for charon
    pid_t parent;
};

int runChild(void* arg) {
    const auto& plan = *static_cast<const ChildPlan*>(arg);
    auto fail = [&](int stage, int err) {
        ChildFailure f{stage, err};
        [[maybe_unused]] auto n = ::write(plan.statusFd, &f, sizeof f);
        ::_exit(126);
    };
    // A handler of ours must not run here, in our memory: charon starts
    // with every caught signal at its default.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN || old.sa_handler == SIG_DFL) continue;
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(sig, &dfl, nullptr);
    }
    ::sigprocmask(SIG_SETMASK, plan.mask, nullptr);
    ::setsid();
    if (!helper::endWithParent(plan.parent)) fail(StageTie, ECHILD);
    if (plan.netnsFd >= 0 && ::setns(plan.netnsFd, CLONE_NEWNET) != 0) fail(StageNetns, errno);
    if (int e = portBusy(500)) fail(StagePort500, e);
    if (int e = portBusy(4500)) fail(StagePort4500, e);
    if (::unshare(CLONE_NEWNS) != 0) fail(StageUnshare, errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail(StageMount, errno);
    if (::mount(plan.runDir, "/run", nullptr, MS_BIND, nullptr) != 0) fail(StageMount, errno);
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, 0);
    ::dup2(plan.outFd, 1);
    ::dup2(plan.outFd, 2);
    ::execve(plan.argv[0], plan.argv, plan.envp);
    fail(StageExec, errno);
    return 127;
}

}  // namespace

bool CharonRunner::spawn(std::string* error) {
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
    // The child's stack; it runs only until charon's exec.
    constexpr std::size_t kStack = 256 * 1024;
    void* stack = ::mmap(nullptr, kStack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (outFd < 0 || stack == MAP_FAILED || ::pipe2(status, O_CLOEXEC) != 0) {
        if (netnsFd >= 0) ::close(netnsFd);
        if (outFd >= 0) ::close(outFd);
        if (stack != MAP_FAILED) ::munmap(stack, kStack);
        if (error) *error = "preparing charon's start failed";
        return false;
    }
    int cloneErrno = 0;
    const pid_t pid = helper::onLifelongThread([&] {
        sigset_t all, old;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &old);
        ChildPlan plan{argv, envp.data(), runDir.c_str(), netnsFd, outFd, status[1], &old, ::getpid()};
        // Sharing our memory until its exec, the child costs no copy of our page
        // tables, which on a busy machine takes milliseconds; we wait meanwhile.
        const pid_t child = ::clone(runChild, static_cast<char*>(stack) + kStack, CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
        cloneErrno = errno;
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return child;
    });
    ::munmap(stack, kStack);
    ::close(status[1]);
    ::close(outFd);
    if (netnsFd >= 0) ::close(netnsFd);
    if (pid < 0) {
        ::close(status[0]);
        if (error) *error = std::string("starting charon: ") + std::strerror(cloneErrno);
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
            case StagePort4500: *error = portTaken(f.stage == StagePort500 ? "500" : "4500"); break;
            case StageNetns: *error = std::string("entering the network namespace: ") + std::strerror(f.error); break;
            case StageExec: *error = "starting " + options_.charonPath + ": " + std::strerror(f.error); break;
            case StageTie: *error = "the helper is ending"; break;
            default: *error = std::string("preparing charon's private /run: ") + std::strerror(f.error); break;
            }
        }
        return false;
    }
    pid_ = pid;
    return true;
}

bool CharonRunner::waitForSocket(UniqueFd& changes, std::string* error, UniqueFd* connection) {
    UniqueFd probe;
    const auto deadline = std::chrono::steady_clock::now() + options_.startTimeout;
    const auto ended = [&] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
        pid_ = -1;
        return true;
    };
    switch (helper::connectWhenListening(viciSocketPath(), pid_, deadline, ended, changes, &probe)) {
    case helper::ListenWait::Connected:
        if (connection) *connection = std::move(probe);
        return true;
    case helper::ListenWait::Ended: {
        const std::string tail = outputTail();
        if (error)
            *error = tail.find("Address already in use") != std::string::npos ? portTaken("500 or 4500")
                                                                               : "charon exited while starting: " + tail;
        return false;
    }
    case helper::ListenWait::TimedOut:
        if (error) *error = "charon did not open its VICI socket in time";
        return false;
    case helper::ListenWait::Failed: break;
    }
    if (error) *error = "charon's folder path is too long";
    return false;
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
    if (pid_ > 0) {
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
    if (!owned_) return;
    owned_ = false;
    records_.terminateAll(std::chrono::milliseconds(0));  // only drops the record: it has ended
    removeRouting();
    removeFiles();
}

}  // namespace hw::ike
