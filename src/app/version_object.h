#pragma once
#include <cstdint>
#include <string>

namespace hw {

// A three-part application version ("2.5.3") and whether it is lower than another.
class VersionObject {
public:
    // Fewer than three dot-separated pieces keep the defaults 4.1.0; pieces after
    // the third are ignored; each piece is read like a C int with clamping.
    explicit VersionObject(const std::string& inputVersion);

    // Part by part, the first differing part decides.
    bool compareIfVersionIsLowerThanWithAnotherVersion(const VersionObject& other) const;
    // Whether the text had the three parts; a version without them is no version.
    bool parsed() const { return parsed_; }

    std::int64_t major = 4;
    std::int64_t medium = 1;
    std::int64_t minor = 0;

private:
    bool parsed_ = false;
};

// What the hub's new-version check asks: whether `installed` is lower than the
// announced `other`. An announcement without three parts offers nothing.
bool isInstalledVersionLower(const std::string& installed, const std::string& announced);

}  // namespace hw
