// Faults a laptop meets, met by the real application as an ordinary user
// beside the real root helper (run as its service would run it), driven
// through the tray and windows on the testbed.
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdio>
#include <cstring>

#include "app/tray_connects_fixture.h"

namespace hw::test {
namespace {

class FaultsByHand : public KillSwitchByHand {
protected:
    void TearDown() override {
        // A link a failed case left down would strand every later one.
        if (!downLink.empty()) {
            run({"ip", "link", "set", downLink, "up"});
            run({"ip", "route", "replace", "default", "via", gateway(), "dev", downLink});
        }
        KillSwitchByHand::TearDown();
    }
    std::string gateway() const { return bed.env.get("HAVENWAY_TESTBED_CLIENT_GATEWAY"); }

    // kill -9, as a crash would end it; the socket file stays behind.
    void killHelper() {
        if (helper.pid() > 0) ::kill(helper.pid(), SIGKILL);
        helper.stop();
    }
    // Started again as its service would: true once it takes connections.
    bool restartHelper() {
        startHelper();
        return waitFor([&] { return helperListens(); }, 10s);
    }
    bool helperListens() const {
        const std::string path = bed.dir.file("helper.sock");
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) return false;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    // The link the default route leaves by.
    std::string outerLink() {
        const std::string out = run({"ip", "-o", "route", "show", "default"}).out;
        const auto at = out.find(" dev ");
        if (at == std::string::npos) return {};
        const auto end = out.find(' ', at + 5);
        return out.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5);
    }
    // Milliseconds until the tunnel's far end answers through it, or nothing
    // within the bound; the application's events run meanwhile.
    std::optional<long> msUntilTheTunnelCarries(const std::string& farEnd, int boundMs) {
        const auto start = std::chrono::steady_clock::now();
        if (!spinUntil([&] { return nameServerAnswers(farEnd, 500); }, boundMs)) return std::nullopt;
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    }

    std::string downLink;
};

}  // namespace
}  // namespace hw::test
