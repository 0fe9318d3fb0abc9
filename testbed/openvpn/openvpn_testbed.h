#pragma once
// A real openvpn server for end-to-end tests and benchmarks: a throw-away
// PKI, a server network namespace and a client namespace joined by a veth
// pair of the shared rig, the server started by the same step as the
// testbed's. Needs root, ip, openvpn and openssl; unavailable() says what is
// missing. Header-only so that tests and bench programs can share it.
#include <sys/stat.h>

#include <filesystem>

#include "../../tests/support/netns_rig.h"

namespace hw::testbed {

using test::ChildProcess;
using test::readText;
using test::runQuiet;
using test::waitFor;

class OpenVPNTestbed {
public:
    static constexpr const char* kUser = "hw-test-user";
    static constexpr const char* kPassword = "correct \"horse\" \\ battery";
    static constexpr const char* kServerAddress = "10.88.0.1";
    static constexpr const char* kTunnelGateway = "10.89.0.1";

    // What is missing for a run, or empty.
    static std::string unavailable() {
        if (auto why = test::NetnsRig::unavailable(); !why.empty()) return why;
        if (::access("/usr/sbin/openvpn", X_OK) != 0) return "needs /usr/sbin/openvpn";
        if (::access("/dev/net/tun", R_OK | W_OK) != 0) return "needs /dev/net/tun";
        if (!runQuiet({"openssl", "version"})) return "needs openssl";
        return {};
    }

    explicit OpenVPNTestbed(const std::string& sourceDir) {
        serverNs_ = test::NetnsRig::name("hwovs");
        clientNs_ = test::NetnsRig::name("hwovc");
        char tmpl[] = "/tmp/hw-openvpn-XXXXXX";
        dir_ = ::mkdtemp(tmpl) ? tmpl : "";
        const std::string scripts = sourceDir + "/testbed/openvpn";
        if (dir_.empty() || !runQuiet({scripts + "/make_pki.sh", dir_ + "/pki"}, log())) { fail("PKI"); return; }
        std::ofstream(dir_ + "/users") << kUser << "\n" << kPassword << "\n";
        const std::string veth = test::NetnsRig::name("hwv");
        if (!rig_.link(serverNs_, veth + "a", std::string(kServerAddress) + "/24", clientNs_, veth + "b", "10.88.0.2/24",
                       log()))
            { fail("network namespaces"); return; }
        if (!runQuiet({scripts + "/start_server", serverNs_, dir_ + "/pki", kServerAddress, "10.89.0.0", dir_ + "/users"},
                      log()))
            { fail("openvpn server did not start"); return; }
        ok_ = true;
    }

    ~OpenVPNTestbed() {
        leaveClientNamespace();
        rig_.removeAll();
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
        return test::NetnsRig::enter(clientNs_);
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
    bool ok_ = false;
    std::string error_;
    test::NetnsRig rig_;
    int originalNs_ = -1;
};

// Why the real helper of this build cannot be run next to the testbed, or empty.
inline std::string helperUnavailable(const std::string& helperBinary) {
    if (auto missing = OpenVPNTestbed::unavailable(); !missing.empty()) return missing;
    if (::access(helperBinary.c_str(), X_OK) != 0) return "no helper executable at " + helperBinary;
    return {};
}

// The version the helper binary reports: the one the application bundles.
inline std::string helperVersion(const std::string& helperBinary, const std::string& dir) {
    const std::string file = dir + "/helper-version";
    ::unlink(file.c_str());
    runQuiet({helperBinary, "--version"}, file);
    std::string version = readText(file);
    while (!version.empty() && (version.back() == '\n' || version.back() == ' ')) version.pop_back();
    return version;
}

// The redirects that keep the real helper's files inside dir.
inline std::vector<std::string> helperEnvironment(const std::string& dir) {
    return {"HAVENWAY_HELPER_SOCKET=" + dir + "/helper.sock", "HAVENWAY_HELPER_CONF=" + dir + "/helper.conf",
            "HAVENWAY_HELPER_STATE_DIR=" + dir + "/state",   "HAVENWAY_HELPER_RUN_DIR=" + dir + "/run",
            "HAVENWAY_RESOLV_CONF=" + dir + "/resolv.conf", "HAVENWAY_RESOLVED_DIR=" + dir + "/no-resolved"};
}

// Starts the real helper in the current namespace with every path it touches
// redirected into dir. Answers its socket once it listens, or empty.
inline std::string startHelper(const std::string& helperBinary, const std::string& dir, ChildProcess& child) {
    std::ofstream(dir + "/helper.conf") << "uid=0\n";
    if (::access((dir + "/resolv.conf").c_str(), F_OK) != 0) std::ofstream(dir + "/resolv.conf") << "nameserver 192.0.2.53\n";
    const std::string socket = dir + "/helper.sock";
    ::unlink(socket.c_str());
    child = ChildProcess({helperBinary}, dir + "/helper.log", helperEnvironment(dir));
    if (!waitFor([&] { return test::helperSocketListens(socket); }, std::chrono::seconds(5))) return {};
    return socket;
}

}  // namespace hw::testbed
