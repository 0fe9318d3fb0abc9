#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hw {

// The command of a profile-menu row; declaration order is kept.
enum class ProfileMenuTableSections { myAccount, getFreeService, settings, signOut };

struct ProfileMenuTableItemModel {
    ProfileMenuTableSections section;
    std::string header;
    // The icon's image name.
    std::string icon;
    bool operator==(const ProfileMenuTableItemModel&) const = default;
};

// The profile menu drawn as a one-column table: one row per command. Plain
// C++; the popover draws it and forwards clicks.
class ProfileMenuTableViewController {
public:
    static constexpr char NORMAL_LOCATIONS_VIEW_ITEM_BACKGROUND[] = "#373a3d";
    static constexpr char SELECTED_LOCATIONS_VIEW_ITEM_BACKGROUND[] = "#4b4e51";
    static constexpr char TABLE_BACKGROUND[] = "#373a3d";
    static constexpr char HIGHLIGHT_BACKGROUND[] = "#454749";
    static constexpr double kRowHeight = 40.0;
    static constexpr double kEnterpriseHeight = 85.0;
    static constexpr double kHeight = 165.0;

    explicit ProfileMenuTableViewController(bool isEnterpriseVersion);

    // Runs the row's command; set by the main window.
    std::function<void(ProfileMenuTableSections)> onCommand;
    // The rows' backgrounds changed; told before a command runs.
    std::function<void()> onBackgroundsChanged;

    // Rebuilds the rows with the catalogue's titles of this moment.
    void setupProfileMenuData();
    const std::optional<std::vector<ProfileMenuTableItemModel>>& profileMenuTableDataObject() const { return rows_; }
    int numberOfRows() const { return rows_ ? static_cast<int>(rows_->size()) : 0; }
    double viewHeight() const { return isEnterpriseVersion_ ? kEnterpriseHeight : kHeight; }

    // Paints the row selected and runs its command; false outside the rows.
    bool shouldSelectRow(int row);
    // No row shows selected (the popover opens clean).
    void clearSelectedRows();
    // A "#RRGGBB" colour: the clicked row stands out until the next opening.
    const char* backgroundOfRow(int row) const;
    std::vector<std::string> rowBackgrounds() const;
    std::optional<int> previouslySelectedRow() const { return previouslySelectedRow_; }
    std::optional<int> selectedRow() const { return selectedRow_; }

private:
    bool isEnterpriseVersion_;
    std::optional<std::vector<ProfileMenuTableItemModel>> rows_;
    std::optional<int> previouslySelectedRow_;
    std::optional<int> selectedRow_;
};

}  // namespace hw
