#pragma once
#include <string>

#include "platform/system_info.h"

namespace hw {

// "<name> <version>" of the operating system, e.g. "Debian GNU/Linux 12".
class OSVersion {
public:
    explicit OSVersion(const SystemInfo& system) : system_(system) {}
    // Falls back to "Linux" for a missing name, and to the name alone for a
    // missing version.
    std::string getOSVersion() const;

private:
    const SystemInfo& system_;
};

}  // namespace hw
