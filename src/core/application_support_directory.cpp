#include "core/application_support_directory.h"

#include "platform/log.h"
#include "platform/paths.h"

namespace hw {

std::optional<std::string> applicationSupportDirectory() {
    const std::string dir = paths::dataDir();
    std::string error;
    if (!paths::ensurePrivateDir(dir, &error)) {
        log::error("FileManager", "Unable to find or create application support directory:\n" + error);
        return std::nullopt;
    }
    return dir;
}

}  // namespace hw
