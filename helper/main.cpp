// havenway-helper: the privileged helper. Runs as root.
//   havenway-helper                 serve the socket until SIGTERM/SIGINT
//   havenway-helper --version       print the version
//   havenway-helper --reset         undo every system change the helper made
//   havenway-helper --install USER  install this binary as the helper for USER
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "havenway/build_config.h"
#include "helper/helper_daemon.h"
#include "helper/helper_installer.h"
#include "helper/log_file_cap.h"
#include "helper/log_limiter.h"
#include "helper/openvpn/openvpn_event.h"
#include "platform/log.h"
#include "platform/posix_process_runner.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: havenway-helper [--version | --reset | --install USER]\n");
    return 64;
}

int serve(hw::ProcessRunner& runner) {
    // Signals are taken by one thread with sigwait, which may then stop the
    // server safely (a handler could not take its lock).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    // Whatever a peer makes the helper say, a flood of it stays a few lines,
    // and the file it goes to stays within its size.
    hw::log::setSink(std::make_shared<hw::helper::LogLimiter>(std::make_shared<hw::helper::LogFileCap>(hw::log::sink())));
    auto network = hw::helper::makeKernelNetworkStack();
    hw::helper::HelperDaemon daemon(runner, *network, hw::helper::HelperPaths::fromEnvironment());
    std::string error;
    if (!daemon.start(&error)) {
        hw::log::error("havenway-helper", "cannot start: " + error);
        hw::log::setSink(nullptr);
        return 1;
    }
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        hw::log::info("havenway-helper", std::string("stopping on ") + ::strsignal(sig));
        daemon.stop();
    });
    daemon.run();
    // run() only returns after stop(); the waiter has finished by then, or
    // poll failed and it still waits, so wake it.
    ::kill(::getpid(), SIGTERM);
    waiter.join();
    // The lock, DNS and IPv6 stay as they are: a helper that stops must not
    // open the kill switch (fail closed); --reset undoes them on purpose.
    hw::log::setSink(nullptr);  // tells what the limiter left out
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    hw::PosixProcessRunner runner;
    if (argc == 1) return serve(runner);
    std::string option = argv[1];
    if (option == "--version" && argc == 2) {
        std::printf("%s\n", HW_VERSION);
        return 0;
    }
    if (::geteuid() != 0) {
        std::fprintf(stderr, "havenway-helper: %s needs root\n", option.c_str());
        return 1;
    }
    // openvpn's up and down command, run by the openvpn this helper started.
    if (option == "--openvpn-event") return hw::helper::runOpenVPNEvent(argc, argv);
    if (option == "--reset" && argc == 2) {
        auto network = hw::helper::makeKernelNetworkStack();
        hw::helper::HelperServices services(runner, *network, hw::helper::HelperPaths::fromEnvironment());
        auto held = services.context.holdState();
        bool ok = services.resetAll();
        std::printf("%s\n", ok ? "reset done" : "reset incomplete; see the log");
        return ok ? 0 : 1;
    }
    if (option == "--install" && argc == 3)
        return hw::helper::installHelper(argv[2], "/proc/self/exe", hw::helper::InstallLayout::fromEnvironment(), runner);
    return usage();
}
