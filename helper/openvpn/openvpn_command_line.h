#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace hw::helper {

// The one thing taken from the app's "openvpncmd": the word after --config,
// read with shell quoting rules. The line itself is never run.
std::optional<std::string> configPathFromCommand(std::string_view command);

}  // namespace hw::helper
