#pragma once
#include <optional>
#include <string>

namespace hw {

// The application's private data folder, made (0700) when missing; none,
// with a log line, when it cannot be made.
std::optional<std::string> applicationSupportDirectory();

}  // namespace hw
