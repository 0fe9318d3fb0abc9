#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hw {

class ProcessRunner;

// The desktop file of the user's mail client: xdg-mime's mailto handler
// looked up in the XDG application folders. None when there is none or the
// answer is not a plain desktop-file name.
std::optional<std::string> defaultMailClientDesktopFile(
    ProcessRunner& runner, const std::vector<std::string>& applicationDirs,
    const std::function<bool(const std::string&)>& exists);

// $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS.
std::vector<std::string> xdgApplicationDirs();

// Starts the mail client without arguments; blocks, so call it off the main
// thread. Failures are only logged: nothing is shown for them.
void launchDefaultMailClient(ProcessRunner& runner);

}  // namespace hw
