#pragma once
#include <sys/types.h>

#include <optional>
#include <string>

namespace hw::helper {

std::optional<std::string> readFile(const std::string& path);
// Temp file in the same folder, fsync, rename. When the target is a mount
// point (a bind-mounted resolv.conf) rename cannot replace it; then the file
// is rewritten in place. Without `durable` there is no fsync: the file is
// whole after a crash of the process, not necessarily after a power cut.
bool writeFileAtomically(const std::string& path, const std::string& content, mode_t mode, std::string* error,
                         bool durable = true);
// mkdir -p: the folder itself gets `mode`, folders made above it 0755.
bool makeDirectories(const std::string& path, mode_t mode);
// A folder for what only this helper may write: created when missing, and
// refused unless it is a real folder of the helper's own user; left 0700.
// What another user could have put there (a socket, a record, a script)
// must never be trusted.
bool makePrivateDirectory(const std::string& path);

}  // namespace hw::helper
