#include "windows/main/main_window_view_controller.h"
#include "platform/log.h"
#include "services/links_manager.h"

namespace hw {

namespace {
constexpr char kLog[] = "MainWindow";
}

void MainWindowViewController::setupProfilePopUpMenuItems() {
    std::array<std::string, 4> icons;
    for (std::size_t i = 0; i < icons.size(); ++i) icons[i] = kProfilePopUpIcons[i];
    env_.view.setProfilePopUpMenuIcons(icons);
}

void MainWindowViewController::onProfileButtonClick() {
    profileMenu_.clearSelectedRows();
    env_.view.showProfilePopover(*profileMenu_.profileMenuTableDataObject(), profileMenu_.viewHeight());
}

void MainWindowViewController::onProfileMenuRowClicked(int row) {
    if (!profileMenu_.shouldSelectRow(row)) return;
    env_.view.closeProfilePopover();
}

void MainWindowViewController::runProfileCommand(ProfileMenuTableSections section) {
    switch (section) {
        case ProfileMenuTableSections::myAccount:
            openLink(env_.links.myAccountLink(), "account page");
            break;
        case ProfileMenuTableSections::getFreeService:
            openLink(env_.links.inviteFriendsLink(), "invite-friends page");
            break;
        case ProfileMenuTableSections::settings:
            env_.shell.openSettingsWindow(false);
            break;
        case ProfileMenuTableSections::signOut:
            env_.shell.performLogout();
            break;
    }
}

void MainWindowViewController::menuWillHighlightItem(std::optional<int> item) {
    std::array<std::string, 4> icons;
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const bool highlighted = item && *item == static_cast<int>(i);
        icons[i] = highlighted ? kProfilePopUpWhiteIcons[i] : kProfilePopUpIcons[i];
    }
    env_.view.setProfilePopUpMenuIcons(icons);
}

void MainWindowViewController::onProfilePopUpMenuItem(int item) {
    struct Action {
        const char* name;
        std::optional<std::string> (LinksManager::*link)() const;  // none: sign out
        const char* what;
    };
    static constexpr Action kActions[] = {
        {"openMyAccount_ActionHandler", &LinksManager::myAccountLink, "account page"},
        {"openViewInvoices_ActionHandler", &LinksManager::viewInvoicesLink, "invoices page"},
        {"openInviteFriends_ActionHandler", &LinksManager::inviteFriendsLink, "invite-friends page"},
        {"openSignOut_ActionHandler", nullptr, ""},
    };
    if (item < 0 || item >= static_cast<int>(std::size(kActions))) return;
    const Action& action = kActions[item];
    log::info(kLog, action.name);
    if (action.link) {
        openLink((env_.links.*action.link)(), action.what);
    } else {
        env_.shell.performLogout();
    }
}

void MainWindowViewController::closeConnectButtonPopover() {
    if (detailsViewController_) detailsViewController_->closeConnectButtonPopover();
    connectButtonPopoverShown_ = false;
}

void MainWindowViewController::dropConnectButtonHover() {
    if (detailsViewController_) detailsViewController_->dropConnectButtonHover();
}

void MainWindowViewController::onSettingsButtonClick() { env_.shell.openSettingsWindow(false); }

void MainWindowViewController::openLocationsWindow() {
    later(0, [](MainWindowViewController& self) { self.env_.shell.openLocationsWindow(); });
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
