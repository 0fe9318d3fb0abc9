#pragma once
#include <optional>
#include <string>
#include <vector>

namespace hw {

// Where the system keeps its service jobs: on a desktop, systemd units.
class HelperJobTable {
public:
    virtual ~HelperJobTable() = default;
    // The program a job starts (the first word of its command), if the job exists.
    virtual std::optional<std::string> programPath(const std::string& label) = 0;
};

// Reads <label>.service from the unit folders, first match wins. The folders
// can be redirected with HAVENWAY_SYSTEMD_UNIT_DIRS (colon-separated).
class SystemdHelperJobTable final : public HelperJobTable {
public:
    SystemdHelperJobTable();
    explicit SystemdHelperJobTable(std::vector<std::string> unitDirs) : unitDirs_(std::move(unitDirs)) {}
    std::optional<std::string> programPath(const std::string& label) override;

    // The program of the unit text's ExecStart, without systemd's prefixes.
    static std::optional<std::string> execStartProgram(const std::string& unitText);

private:
    std::vector<std::string> unitDirs_;
};

}  // namespace hw
