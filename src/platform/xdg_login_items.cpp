#include "platform/xdg_login_items.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/log.h"
#include "platform/paths.h"

namespace hw {
namespace {

constexpr std::size_t kMaxEntryBytes = 64 * 1024;

std::string defaultFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string base = config && *config == '/' ? config : paths::home() + "/.config";
    return base + "/autostart";
}

// The Exec value's first word, with the desktop-entry quoting undone.
std::optional<std::string> firstWord(const std::string& value) {
    std::size_t i = value.find_first_not_of(" \t");
    if (i == std::string::npos) return std::nullopt;
    std::string word;
    if (value[i] == '"') {
        for (++i; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            word += value[i];
        }
        if (i >= value.size()) return std::nullopt;  // no closing quote
    } else {
        for (; i < value.size() && value[i] != ' ' && value[i] != '\t'; ++i) word += value[i];
    }
    // "%%" stands for a literal percent sign in Exec.
    for (std::size_t p = word.find("%%"); p != std::string::npos; p = word.find("%%", p + 1)) word.erase(p, 1);
    return word.empty() ? std::nullopt : std::optional<std::string>(word);
}

}  // namespace

XdgLoginItems::XdgLoginItems() : folder_(defaultFolder()) {}

std::optional<std::string> XdgLoginItems::programOf(const std::string& text) {
    bool inMainGroup = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (inMainGroup && line.rfind("Exec=", 0) == 0) return firstWord(line.substr(5));
    }
    return std::nullopt;
}

std::optional<std::string> XdgLoginItems::execWord(const std::string& path) {
    if (path.empty() || path[0] != '/') return std::nullopt;
    if (std::any_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return std::nullopt;
    std::string escaped;
    bool needsQuotes = false;
    for (char c : path) {
        if (c == '%') {
            escaped += "%%";
            continue;
        }
        if (std::string_view(" \t'\"`$\\><~|&;*?#()").find(c) != std::string_view::npos) needsQuotes = true;
        if (c == '"' || c == '`' || c == '$' || c == '\\') escaped += '\\';
        escaped += c;
    }
    return needsQuotes ? "\"" + escaped + "\"" : escaped;
}

std::optional<std::vector<LoginItems::Item>> XdgLoginItems::snapshot() {
    std::vector<Item> items;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder_.c_str()), ::closedir);
    // A missing folder is an empty list: adding creates it.
    if (!dir) return errno == ENOENT ? std::optional(items) : std::nullopt;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string name = e->d_name;
        if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        std::string text;
        Item item{name, std::nullopt};
        if (paths::readFile(folder_ + "/" + name, text, kMaxEntryBytes) == paths::ReadStatus::Ok)
            item.program = programOf(text);
        items.push_back(std::move(item));
    }
    return items;
}

bool XdgLoginItems::remove(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos) return false;
    if (::unlink((folder_ + "/" + id).c_str()) == 0) return true;
    log::warning("LoginItems", "could not remove autostart entry " + id);
    return false;
}

bool XdgLoginItems::add(const std::string& program, bool hideOnLaunch) {
    const auto word = execWord(program);
    std::string error;
    if (!word) {
        log::warning("LoginItems", "program path cannot go into an autostart entry");
        return false;
    }
    // The autostart folder is shared with other programs: not narrowed to 0700.
    if (::access(folder_.c_str(), F_OK) != 0 && !paths::ensurePrivateDir(folder_, &error)) {
        log::warning("LoginItems", "no autostart folder: " + error);
        return false;
    }
    const std::string text = "[Desktop Entry]\nType=Application\nName=Havenway\nExec=" + *word +
                             (hideOnLaunch ? " --hidden" : "") + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    if (!paths::writeFileAtomically(folder_ + "/" + kFileName, text, 0644, &error)) {
        log::warning("LoginItems", "could not write autostart entry: " + error);
        return false;
    }
    return true;
}

}  // namespace hw
