#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

// Where Havenway keeps its files. Every location can be redirected by the
// environment (HOME, XDG_*, HAVENWAY_<NAME>) so tests never touch real ones.
namespace hw::paths {

// $HOME, else the password database entry, else "/".
std::string home();
// $HAVENWAY_CONFIG_DIR, else $XDG_CONFIG_HOME/havenway, else ~/.config/havenway.
std::string configDir();
// $HAVENWAY_DATA_DIR, else $XDG_DATA_HOME/havenway, else ~/.local/share/havenway.
std::string dataDir();
// $HAVENWAY_LOGS_DIR, else $XDG_STATE_HOME/havenway/logs, else ~/.local/state/havenway/logs.
std::string logsDir();
// $HAVENWAY_HELPER_SOCKET, else /run/havenway/helper.sock.
std::string helperSocket();
// $HAVENWAY_SETTINGS_FILE, else configDir()/settings.json.
std::string settingsFile();
// $HAVENWAY_SECRETS_FILE, else dataDir()/secrets.json.
std::string secretsFile();

// The running program's own file, or "" when the system does not say.
std::string executable();

// The folder part of a path ("." when there is none).
std::string parentOf(const std::string& path);

// Creates the folder and any missing parents, 0700; an existing folder is
// narrowed to 0700. False (with the reason) when it cannot be made so.
bool ensurePrivateDir(const std::string& path, std::string* error = nullptr);

// Replaces the file so that readers and a crash see the old or the new bytes,
// never a mix: a temp file in the same folder, fsync, rename, fsync of the
// folder. The folder must exist.
bool writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode = 0600,
                         std::string* error = nullptr);

enum class ReadStatus { Ok, Missing, TooLarge, Failed };
// Reads a whole regular file of at most maxBytes.
ReadStatus readFile(const std::string& path, std::string& out, std::size_t maxBytes, std::string* error = nullptr);

// Moves a file aside as "<path>.<tag>", "<path>.<tag>.1", ... never replacing an
// earlier one. Answers the new name, or nothing when it could not be moved.
std::optional<std::string> moveAside(const std::string& path, const std::string& tag, std::string* error = nullptr);

// "corrupt-<UTC time>", the tag under which damaged files are kept.
std::string corruptTag();

}  // namespace hw::paths
