#include "windows/main/profile_menu_table_view_controller.h"

#include "texts/locale_data.h"

namespace hw {

ProfileMenuTableViewController::ProfileMenuTableViewController(bool isEnterpriseVersion)
    : isEnterpriseVersion_(isEnterpriseVersion) {
    setupProfileMenuData();
}

void ProfileMenuTableViewController::setupProfileMenuData() {
    rows_.emplace();
    if (!isEnterpriseVersion_) {
        rows_->push_back({ProfileMenuTableSections::myAccount, LocaleData::user_profile_menu_item_my_account(),
                          "profile_menu_icon_my_account"});
        rows_->push_back({ProfileMenuTableSections::getFreeService,
                          LocaleData::user_profile_menu_item_get_free_service(), "profile_menu_icon_get_free_service"});
    }
    rows_->push_back({ProfileMenuTableSections::settings, LocaleData::user_profile_menu_item_my_settings(),
                      "profile_menu_icon_settings"});
    rows_->push_back({ProfileMenuTableSections::signOut, LocaleData::user_profile_menu_item_my_sign_out(),
                      "profile_menu_icon_sign_out"});
}

void ProfileMenuTableViewController::clearSelectedRows() {
    selectedRow_.reset();
    if (onBackgroundsChanged) onBackgroundsChanged();
}

const char* ProfileMenuTableViewController::backgroundOfRow(int row) const {
    return selectedRow_ == row ? SELECTED_LOCATIONS_VIEW_ITEM_BACKGROUND : NORMAL_LOCATIONS_VIEW_ITEM_BACKGROUND;
}

std::vector<std::string> ProfileMenuTableViewController::rowBackgrounds() const {
    std::vector<std::string> out;
    for (int row = 0; row < numberOfRows(); ++row) out.emplace_back(backgroundOfRow(row));
    return out;
}

bool ProfileMenuTableViewController::shouldSelectRow(int row) {
    if (row < 0 || row >= numberOfRows()) return false;
    selectedRow_ = row;
    previouslySelectedRow_ = row;
    if (onBackgroundsChanged) onBackgroundsChanged();
    const auto section = (*rows_)[static_cast<std::size_t>(row)].section;
    if (onCommand) onCommand(section);
    return true;
}

}  // namespace hw
