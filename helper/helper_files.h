#pragma once
#include <sys/types.h>

#include <optional>
#include <string>

namespace hw::helper {

std::optional<std::string> readFile(const std::string& path);
// Temp file in the same folder, fsync, rename. When the target is a mount
// point (a bind-mounted resolv.conf) rename cannot replace it; then the file
// is rewritten in place.
bool writeFileAtomically(const std::string& path, const std::string& content, mode_t mode, std::string* error);
// mkdir -p with the given mode for the folders it creates.
bool makeDirectories(const std::string& path, mode_t mode);

}  // namespace hw::helper
