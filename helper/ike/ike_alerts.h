#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace hw::ike {

// The alert names the app translates: "local-auth", "remote-auth", "dns",
// "unreachable", "timeout", "proposal-mismatch", "ts-mismatch".
// Answers the alert that one of charon's log lines shows, if any.
std::optional<std::string> alertForCharonLog(std::string_view line);

}  // namespace hw::ike
