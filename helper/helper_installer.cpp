#include "helper/helper_installer.h"

#include <pwd.h>

#include <cstdlib>
#include <filesystem>

#include "helper/helper_daemon.h"
#include "helper/helper_files.h"
#include "helper/helper_validation.h"
#include "platform/log.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "HelperInstaller";

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }
}  // namespace

InstallLayout InstallLayout::fromEnvironment() {
    InstallLayout l;
    if (const char* r = std::getenv("HAVENWAY_INSTALL_ROOT"); r && *r) l.root = r;
    return l;
}

std::string helperUnitText(const std::string& binaryPath) {
    return "[Unit]\n"
           "Description=Havenway privileged helper\n"
           "After=network-pre.target\n\n"
           "[Service]\n"
           "ExecStart=" + binaryPath + "\n"
           "Restart=on-failure\n"
           // What the helper's bounds need; see kDescriptorLimit.
           "LimitNOFILE=" + std::to_string(kDescriptorLimit) + "\n\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

int installHelper(const std::string& user, const std::string& selfPath, const InstallLayout& layout,
                  ProcessRunner& runner) {
    if (!isStrictName(user, 32) || !::getpwnam(user.c_str())) {
        log::error(kLog, "no such user " + describeForLog(user));
        return 2;
    }
    auto binary = readFile(selfPath);
    // openvpn's event plugin and small event program, when they were built beside the helper.
    std::error_code ec;
    const auto self = std::filesystem::canonical(selfPath, ec);
    auto beside = [&](const char* name) { return ec ? std::nullopt : readFile((self.parent_path() / name).string()); };
    auto eventProgram = beside("havenway-openvpn-event");
    auto eventPlugin = beside("havenway-openvpn-plugin.so");
    std::string error;
    bool ok = binary && makeDirectories(folderOf(layout.binary()), 0755) &&
              writeFileAtomically(layout.binary(), *binary, 0755, &error) &&
              (!eventProgram || writeFileAtomically(layout.eventProgram(), *eventProgram, 0755, &error)) &&
              (!eventPlugin || writeFileAtomically(layout.eventPlugin(), *eventPlugin, 0644, &error)) &&
              makeDirectories(folderOf(layout.unit()), 0755) &&
              // The unit names the path on the real system, wherever the files went.
              writeFileAtomically(layout.unit(), helperUnitText(InstallLayout{}.binary()), 0644, &error) &&
              makeDirectories(folderOf(layout.config()), 0755) &&
              writeFileAtomically(layout.config(), "user=" + user + "\n", 0644, &error);
    if (!ok) {
        log::error(kLog, "install failed: " + error);
        return 1;
    }
    for (std::vector<std::string> argv : {std::vector<std::string>{"systemctl", "daemon-reload"},
                                          {"systemctl", "enable", "--now", std::string(kHelperJobLabel) + ".service"}}) {
        ProcessRequest r;
        r.argv = argv;
        r.timeout = std::chrono::seconds(30);
        if (!runner.run(r).ok()) {
            log::error(kLog, "systemctl failed");
            return 1;
        }
    }
    log::info(kLog, "installed for " + user);
    return 0;
}

}  // namespace hw::helper
