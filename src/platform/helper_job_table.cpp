#include "platform/helper_job_table.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace hw {

SystemdHelperJobTable::SystemdHelperJobTable() {
    if (const char* dirs = std::getenv("HAVENWAY_SYSTEMD_UNIT_DIRS"); dirs && *dirs) {
        std::stringstream s(dirs);
        std::string dir;
        while (std::getline(s, dir, ':'))
            if (!dir.empty()) unitDirs_.push_back(dir);
    } else {
        unitDirs_ = {"/etc/systemd/system", "/run/systemd/system", "/usr/local/lib/systemd/system",
                     "/usr/lib/systemd/system", "/lib/systemd/system"};
    }
}

std::optional<std::string> SystemdHelperJobTable::execStartProgram(const std::string& unitText) {
    std::istringstream lines(unitText);
    std::string line;
    bool inService = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inService = line == "[Service]";
            continue;
        }
        if (!inService || line.rfind("ExecStart=", 0) != 0) continue;
        auto command = line.substr(10);
        // Prefixes that change how systemd runs the command, not what it runs.
        auto start = command.find_first_not_of("-@:+! \t");
        if (start == std::string::npos) return std::nullopt;
        auto end = command.find_first_of(" \t", start);
        auto program = command.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (program.empty() || program.front() != '/') return std::nullopt;
        return program;
    }
    return std::nullopt;
}

std::optional<std::string> SystemdHelperJobTable::programPath(const std::string& label) {
    for (const auto& dir : unitDirs_) {
        std::ifstream in(dir + "/" + label + ".service");
        if (!in) continue;
        std::ostringstream text;
        text << in.rdbuf();
        return execStartProgram(text.str());
    }
    return std::nullopt;
}

}  // namespace hw
