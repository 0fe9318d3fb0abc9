#include "core/os_version.h"

namespace hw {

std::string OSVersion::getOSVersion() const {
    const std::optional<OSRelease> release = system_.osRelease();
    std::string name = release && !release->name.empty() ? release->name : "Linux";
    std::string version;
    if (release) version = !release->versionId.empty() ? release->versionId : release->version;
    return version.empty() ? name : name + " " + version;
}

}  // namespace hw
