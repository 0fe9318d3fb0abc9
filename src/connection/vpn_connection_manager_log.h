#pragma once
#include <cstdio>
#include <string_view>

#include "platform/log.h"

namespace hw::manager_log {

inline constexpr const char* kCategory = "VPNManager";

inline void logLine(std::string_view line) { log::info(kCategory, line); }

// A line on standard output, kept in the log as well.
inline void print(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    log::info(kCategory, line);
}

}  // namespace hw::manager_log
