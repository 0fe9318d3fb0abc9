#include "app/default_mail_client.h"

#include <cstdlib>
#include <filesystem>

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/process_runner.h"

namespace hw {
namespace {

constexpr char kLog[] = "MailClient";
constexpr std::chrono::milliseconds kTimeout{10000};

bool plainDesktopName(const std::string& name) {
    constexpr std::string_view suffix = ".desktop";
    if (name.size() <= suffix.size() || name.front() == '-' || name.front() == '.') return false;
    if (name.find('/') != std::string::npos) return false;
    return name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::vector<std::string> xdgApplicationDirs() {
    std::vector<std::string> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    dirs.push_back((dataHome && *dataHome ? std::string(dataHome) : paths::home() + "/.local/share") + "/applications");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (end > start) dirs.push_back(list.substr(start, end - start) + "/applications");
        start = end + 1;
    }
    return dirs;
}

std::optional<std::string> defaultMailClientDesktopFile(ProcessRunner& runner,
                                                        const std::vector<std::string>& applicationDirs,
                                                        const std::function<bool(const std::string&)>& exists) {
    ProcessRequest query;
    query.argv = {"xdg-mime", "query", "default", "x-scheme-handler/mailto"};
    query.timeout = kTimeout;
    const ProcessResult answer = runner.run(query);
    if (!answer.ok()) return std::nullopt;
    std::string name = answer.out;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' ')) name.pop_back();
    if (!plainDesktopName(name)) return std::nullopt;
    for (const std::string& dir : applicationDirs) {
        const std::string path = dir + "/" + name;
        if (exists(path)) return path;
    }
    return std::nullopt;
}

void launchDefaultMailClient(ProcessRunner& runner) {
    const auto desktopFile = defaultMailClientDesktopFile(runner, xdgApplicationDirs(), [](const std::string& path) {
        std::error_code error;
        return std::filesystem::is_regular_file(path, error);
    });
    if (!desktopFile) {
        log::info(kLog, "no default mail client found");
        return;
    }
    ProcessRequest launch;
    launch.argv = {"gio", "launch", *desktopFile};
    launch.timeout = kTimeout;
    if (!runner.run(launch).ok()) log::info(kLog, "the mail client did not start");
}

}  // namespace hw
