#include <algorithm>
#include <cctype>

#include "core/application_model.h"
#include "core/global_constants.h"
#include "core/grapheme_text.h"
#include "platform/log.h"
#include "services/links_manager.h"
#include "services/notification_bar_models.h"
#include "texts/locale_data.h"
#include "windows/details_pane/main_view_details_area_controller.h"

namespace hw {

namespace {
constexpr const char* kLog = "MainViewDetailsAreaController";

bool isWebAddress(const std::string& url) {
    std::string lower = url.substr(0, 8);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.starts_with("http://") || lower.starts_with("https://");
}
}  // namespace

void MainViewDetailsAreaController::showTopNotificationBar(PaneTopBar bar) {
    const auto index = static_cast<std::size_t>(bar);
    ++barGeneration_[index];
    view_.setTopBarHidden(bar, false);
    view_.slideTopBar(bar, true, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->view_.setTopBarStripHidden(true);
        self->view_.refreshHandCursors();
    });
}

void MainViewDetailsAreaController::hideTopNotificationBar(PaneTopBar bar) {
    if (view_.isTopBarHidden(bar)) return;
    const auto index = static_cast<std::size_t>(bar);
    const auto generation = ++barGeneration_[index];
    view_.setTopBarStripHidden(false);
    view_.slideTopBar(bar, false, [weak = weak_from_this(), bar, index, generation] {
        auto self = weak.lock();
        if (!self || self->barGeneration_[index] != generation) return;
        self->view_.setTopBarHidden(bar, true);
    });
}

void MainViewDetailsAreaController::setupTopNotificationBar(const std::shared_ptr<TopNotificationBarModel>& top,
                                                            const std::shared_ptr<BottomNotificationBarModel>& bottom) {
    log::info(kLog, "setupTopNotificationBar() executed");
    latestTopBarData_ = top;
    latestBottomBarData_ = bottom;
    setLastBottomNotificationBar(bottom);
    view_.setBarActivityIndicatorsSpinning(false);
    const auto& styles = GlobalConstants::notificationBarStyles();
    auto tip = styles.find("tip");
    if (tip == styles.end()) return;
    // The server may send either bar alone, or none: a bar without its
    // record leaves, and takes no room.
    if (bottom) {
        BottomBarLook footer;
        footer.text = bottom->footerLinkedText;
        const auto linked = bottom->linkedTitleRange();
        const auto units = utf16RangeOfCharacters(bottom->footerLinkedText, linked.location, linked.length);
        if (bottom->linkedTitleOffset() && units.length > 0) footer.linkRange = std::make_pair(units.location, units.length);
        footer.icon = bottom->footerIcon;
        view_.setBottomBar(footer);
        view_.setBottomBarCollapsed(model().isMainViewBottomBarHidden());
    } else {
        view_.setBottomBar(std::nullopt);
    }
    if (!top) {
        hideTopNotificationBar(PaneTopBar::server);
        return;
    }
    ServerBarLook look;
    look.background = tip->second.backgroundColor;
    look.border = tip->second.borderColor;
    look.textColor = tip->second.textColor;
    if (top->style == std::optional<std::string>("action")) {
        look.leftConstraint = 15.0;
    } else {
        look.icon = tip->second.icon;
    }
    look.linkText = top->displayedText();
    const auto bold = top->boldTextRange();
    const auto units = utf16RangeOfCharacters(top->displayedText(), bold.location, bold.length);
    if (units.length > 0) look.boldRange = std::make_pair(units.location, units.length);
    view_.setServerBarLook(look);
    if (view_.isTopBarHidden(PaneTopBar::server)) showTopNotificationBar(PaneTopBar::server);
}

void MainViewDetailsAreaController::setLastBottomNotificationBar(
    const std::shared_ptr<BottomNotificationBarModel>& bar) {
    lastBottomNotificationBar_ = bar;
    updateHandCursorsForTheBottomBar();
}

void MainViewDetailsAreaController::updateHandCursorsForTheBottomBar() { view_.refreshHandCursors(); }

// A close button that left the bar in place would do nothing the user can
// see: the bar folds into the gift button, which opens it again, and the
// choice is kept across starts.
void MainViewDetailsAreaController::onBottomBarCloseClick() {
    log::info(kLog, "onBottomBarCloseClick()");
    model().setIsMainViewBottomBarHidden(true);
    view_.setBottomBarCollapsed(true);
}

void MainViewDetailsAreaController::giftBottonToOpenBottonBarClickHandler() {
    log::info(kLog, "giftBottonToOpenBottonBarClickHandler()");
    model().setIsMainViewBottomBarHidden(false);
    view_.setBottomBarCollapsed(false);
}

void MainViewDetailsAreaController::showUpdateTopNotificationBar() { showTopNotificationBar(PaneTopBar::update); }

void MainViewDetailsAreaController::closeUpdateTopNotificationBar() { hideTopNotificationBar(PaneTopBar::update); }

void MainViewDetailsAreaController::onUpdateTopNotificationBar_CloseButton_click() {
    log::info(kLog, "onUpdateTopNotificationBar_CloseButton_click");
    closeUpdateTopNotificationBar();
}

void MainViewDetailsAreaController::onUpdateInstall_linkButtonClick() {
    log::info(kLog, "onUpdateInstall_linkButtonClick");
    if (model().useAutoUpdater) {
        startAutoUpdater();
        return;
    }
    if (openLink(model().newAppVersionDowloadLink)) closeUpdateTopNotificationBar();
}

void MainViewDetailsAreaController::startAutoUpdater() {
    view_.fadeAutoUpdateOverlay(true, kAutoUpdateFadeIn, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        if (!self->mainWindow_) {
            log::warning(kLog, "no main window for the update sheet");
            self->autoUpdateSheetDidEnd();
            return;
        }
        self->shell_.startAutoUpdater(*self->mainWindow_);
    });
}

void MainViewDetailsAreaController::autoUpdateSheetDidEnd() {
    view_.fadeAutoUpdateOverlay(false, kAutoUpdateFadeOut, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->view_.setAutoUpdateOverlayHidden(true);
    });
}

bool MainViewDetailsAreaController::openLink(const std::optional<std::string>& url) {
    // Addresses come from the backend: only web pages open, and none is logged.
    if (!url || !isWebAddress(*url)) return false;
    return context_.urlOpener.openURL(*url);
}

void MainViewDetailsAreaController::onTopBarLinkedButtonClick() {
    if (!model().isConnectedToInternet || !latestTopBarData_ || !links_) return;
    openLink(links_->buildLink(latestTopBarData_->link));
}

void MainViewDetailsAreaController::onFooterLinkClick() {
    if (!model().isConnectedToInternet || !latestBottomBarData_ || !links_) return;
    openLink(links_->buildLink(latestBottomBarData_->footerLink));
}

void MainViewDetailsAreaController::onInviteFriendsBottomBarButtonClick() {
    if (!model().isConnectedToInternet || !lastBottomNotificationBar_ || !links_) return;
    openLink(links_->buildLink(lastBottomNotificationBar_->footerLink));
}

void MainViewDetailsAreaController::onPickDifferentLocation_linkButtonClick() {
    log::info(kLog, "onPickDifferentLocation_linkButtonClick");
    if (!model().vpnSettingsChangingDisabled()) openLocationsWindow();
}

void MainViewDetailsAreaController::onChangeLinkFieldClick() {
    if (locationChangeEnabled_) openLocationsWindow();
}

void MainViewDetailsAreaController::onChangeProtocolLinkClick() {
    // Dimmed with location change: the protocol of a live connection stays.
    if (locationChangeEnabled_) shell_.openSettingsWindowOnProtocol();
}

}  // namespace hw
