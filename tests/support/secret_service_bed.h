#pragma once
// gnome-keyring's Secret Service on a bus of its own, for the secret store's
// cases: unlocked with a test password, or fresh (no default collection).
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/poll_until.h"
#include "support/private_dbus.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace hw::test {

using namespace std::chrono_literals;

// A private session bus (no service activation, so nothing else answers)
// with gnome-keyring's Secret Service on it, unlocked with a test password,
// or fresh: no keyring made yet, so no default collection.
class SecretServiceBed {
public:
    std::string setUp(bool fresh = false) {
        for (const char* program : {"dbus-daemon", "dbus-send", "gnome-keyring-daemon"}) {
            if (!programOnPath(program)) return std::string(program) + " is not installed";
        }
        const std::string run = dir_.file("run"), home = dir_.file("home");
        ::mkdir(run.c_str(), 0700);
        ::mkdir(home.c_str(), 0700);
        std::string why;
        if (!bus_.start(&why, false)) return "the bus never came up: " + why;
        const std::vector<std::string> env = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "HOME=" + home,
                                              "XDG_RUNTIME_DIR=" + run, "XDG_DATA_HOME=" + home + "/data",
                                              "XDG_CONFIG_HOME=" + home + "/config",
                                              "DBUS_SESSION_BUS_ADDRESS=" + bus_.address()};
        env_ = env;
        fresh_ = fresh;
        if (const std::string why = startKeyring(); !why.empty()) return why;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
        return "";
    }
    // The same keyring in a new daemon on the same bus, as after a crash.
    std::string restartKeyring() {
        stopKeyring();
        return startKeyring();
    }
    const std::string& address() const { return bus_.address(); }
    void tearDown() {
        // Drop libsecret's cached connection (when it is loaded) before its bus goes away.
        if (void* libsecret = ::dlopen("libsecret-1.so.0", RTLD_LAZY | RTLD_NOLOAD)) {
            if (auto disconnect = reinterpret_cast<void (*)()>(::dlsym(libsecret, "secret_service_disconnect")))
                disconnect();
            ::dlclose(libsecret);
        }
        stopKeyring();
        bus_.stop();
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

private:
    std::string startKeyring() {
        std::vector<std::string> argv{"gnome-keyring-daemon", "--foreground", "--components=secrets"};
        if (!fresh_) argv.push_back("--unlock");
        keyring_ = spawnLogged(argv, env_, dir_.file("keyring.log"), fresh_ ? "" : "havenway-test-password");
        if (keyring_ < 0) return "cannot start gnome-keyring-daemon";
        // Ready once the default collection (or, fresh, the service) answers on the bus.
        if (!pollUntil([&] { return fresh_ ? serviceAnswers() : defaultCollectionAnswers(); }, 10s, 50ms))
            return "no Secret Service came up: " + logs();
        return "";
    }
    void stopKeyring() {
        if (keyring_ > 0) {
            ::kill(keyring_, SIGTERM);
            waitChild(std::exchange(keyring_, -1), 2s);
        }
    }
    bool defaultCollectionAnswers() {
        std::string out;
        return runTool({"dbus-send", "--bus=" + bus_.address(), "--print-reply",
                                  "--dest=org.freedesktop.secrets", "/org/freedesktop/secrets/aliases/default",
                                  "org.freedesktop.DBus.Properties.Get", "string:org.freedesktop.Secret.Collection",
                                  "string:Locked"},
                                 2s, &out) &&
               out.find("boolean false") != std::string::npos;
    }
    bool serviceAnswers() {
        std::string out;
        return runTool({"dbus-send", "--bus=" + bus_.address(), "--print-reply",
                                  "--dest=org.freedesktop.secrets", "/org/freedesktop/secrets",
                                  "org.freedesktop.DBus.Properties.Get", "string:org.freedesktop.Secret.Service",
                                  "string:Collections"},
                                 2s, &out);
    }
    std::string logs() const { return TempDir::read(dir_.file("keyring.log")); }

    TempDir dir_;
    std::vector<std::string> env_;
    bool fresh_ = false;
    PrivateDBus bus_;
    pid_t keyring_ = -1;
};

}  // namespace hw::test
