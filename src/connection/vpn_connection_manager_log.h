#pragma once
#include <string_view>

#include "platform/log.h"

namespace hw::manager_log {

inline constexpr const char* kCategory = "VPNManager";

inline void logLine(std::string_view line) { log::info(kCategory, line); }

}  // namespace hw::manager_log
