#include "controllers/main_window_view_controller.h"
#include "platform/log.h"
#include "services/links_manager.h"

namespace hw {

namespace {
constexpr char kLog[] = "MainWindow";
}

void MainWindowViewController::setupProfilePopUpMenuItems() {
    std::array<std::string, 4> icons;
    for (std::size_t i = 0; i < icons.size(); ++i) icons[i] = kProfilePopUpIcons[i];
    view_.setProfilePopUpMenuIcons(icons);
}

void MainWindowViewController::onProfileButtonClick() {
    profileMenu_.clearSelectedRows();
    view_.showProfilePopover(*profileMenu_.profileMenuTableDataObject(), profileMenu_.viewHeight());
}

void MainWindowViewController::onProfileMenuRowClicked(int row) {
    if (!profileMenu_.shouldSelectRow(row)) return;
    view_.closeProfilePopover();
}

void MainWindowViewController::runProfileCommand(ProfileMenuTableSections section) {
    switch (section) {
        case ProfileMenuTableSections::myAccount:
            openLink(links_.myAccountLink(), "account page");
            break;
        case ProfileMenuTableSections::getFreeService:
            openLink(links_.inviteFriendsLink(), "invite-friends page");
            break;
        case ProfileMenuTableSections::settings:
            shell_.openSettingsWindow(false);
            break;
        case ProfileMenuTableSections::signOut:
            shell_.performLogout();
            break;
    }
}

void MainWindowViewController::menuWillHighlightItem(std::optional<int> item) {
    std::array<std::string, 4> icons;
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const bool highlighted = item && *item == static_cast<int>(i);
        icons[i] = highlighted ? kProfilePopUpWhiteIcons[i] : kProfilePopUpIcons[i];
    }
    view_.setProfilePopUpMenuIcons(icons);
}

void MainWindowViewController::onProfilePopUpMenuItem(int item) {
    switch (item) {
        case 0:
            log::info(kLog, "openMyAccount_ActionHandler");
            openLink(links_.myAccountLink(), "account page");
            break;
        case 1:
            log::info(kLog, "openViewInvoices_ActionHandler");
            openLink(links_.viewInvoicesLink(), "invoices page");
            break;
        case 2:
            log::info(kLog, "openInviteFriends_ActionHandler");
            openLink(links_.inviteFriendsLink(), "invite-friends page");
            break;
        case 3:
            log::info(kLog, "openSignOut_ActionHandler");
            shell_.performLogout();
            break;
        default:
            break;
    }
}

void MainWindowViewController::closeConnectButtonPopover() {
    if (detailsViewController_) detailsViewController_->closeConnectButtonPopover();
    connectButtonPopoverShown_ = false;
}

void MainWindowViewController::onSettingsButtonClick() { shell_.openSettingsWindow(false); }

void MainWindowViewController::openLocationsWindow() {
    later(0, [](MainWindowViewController& self) { self.shell_.openLocationsWindow(); });
}

bool MainWindowViewController::isInDisconnectedState() const {
    return detailsViewController_ && detailsViewController_->connectButtonState() == ConnectButtonStates::connect;
}

bool MainWindowViewController::isInConnectedState() const {
    return detailsViewController_ && detailsViewController_->connectButtonState() == ConnectButtonStates::disconnect;
}

bool MainWindowViewController::isInConnectingState() const {
    return detailsViewController_ && detailsViewController_->connectButtonState() == ConnectButtonStates::connecting;
}

}  // namespace hw
