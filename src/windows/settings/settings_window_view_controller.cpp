#include "windows/settings/settings_window_view_controller.h"

#include "core/global_constants.h"
#include "core/settings_user_defaults.h"
#include "hub/service_layer.h"
#include "network/wifi_info_helper.h"
#include "platform/log.h"
#include "platform/main_queue.h"
#include "services/links_manager.h"
#include "texts/locale_data.h"
#include "view/user_defaults_controller.h"

namespace hw {

namespace {
constexpr char kLog[] = "SettingsWindowViewController";
constexpr char kGroupID[] = "groupID";
constexpr char kPrintItem[] = "NSToolbarPrintItem";
}  // namespace

SettingsWindowDependencies settingsDependenciesFromHub(ServiceLayer& hub, UserDefaultsController& settings,
                                                       ShellCommands& shell, MainQueue& mainQueue,
                                                       BackgroundQueue& background) {
    auto link = [&hub](std::optional<std::string> (LinksManager::*read)() const) {
        return [&hub, read]() -> std::optional<std::string> {
            const auto& links = hub.linksManager();
            return links ? ((*links).*read)() : std::nullopt;
        };
    };
    return SettingsWindowDependencies{settings,
                                      shell,
                                      mainQueue,
                                      background,
                                      [&hub] { return hub.wi_fi_InfoHelper(); },
                                      [&hub] { return hub.checkingIfNewAppVersionAvailable(); },
                                      {link(&LinksManager::supportTicketURL), link(&LinksManager::knowledgeBaseURL),
                                       link(&LinksManager::speedTestURL)},
                                      GlobalConstants::supportEmail()};
}

SettingsWindowViewController::SettingsWindowViewController(const BaseControllerContext& context, WindowView& window,
                                                           SettingsWindowView& view,
                                                           SettingsWindowDependencies dependencies,
                                                           SettingsEntirePageView* entirePage)
    : BaseWindowViewController(context, window),
      view_(view),
      deps_(std::move(dependencies)),
      alive_(std::make_shared<Alive>(Alive{this})) {
    setWindowName(LocaleData::user_profile_menu_item_my_settings());
    if (entirePage) entirePage_ = std::make_unique<Settings_EntirePageController>(context, *entirePage, deps_.links);
    general_ = std::make_unique<Settings_GeneralOptionsController>(context, view_.generalOptionsView(),
                                                                   [this] { onParametersChanges(); });
    protocols_ = std::make_unique<Settings_VPNProtocolsOptionsController>(context, view_.vpnProtocolsOptionsView(),
                                                                          [this] { onVPNProtocolSelectionChanged(); });
    support_ = std::make_unique<Settings_SupportOptionsController>(
        context, view_.supportOptionsView(),
        Settings_SupportOptionsController::Actions{[this] { openSupportTicketButton_Click(); },
                                                   [this] { onRunSpeedTest_click(); },
                                                   [this] { onCheckForUpdatesButtonClick(); }});
}

SettingsWindowViewController::~SettingsWindowViewController() {
    if (view_.tabbar().delegate() == this) view_.tabbar().setDelegate(nullptr);
}

void SettingsWindowViewController::later(std::function<void(SettingsWindowViewController&)> task) {
    std::weak_ptr<Alive> weak = alive_;
    deps_.mainQueue.post([weak, task = std::move(task)] {
        if (auto alive = weak.lock()) task(*alive->self);
    });
}

// --- Opening and closing ---

void SettingsWindowViewController::setupComponents() {
    general_->loadViewIfNeeded();
    protocols_->loadViewIfNeeded();
    support_->loadViewIfNeeded();
    if (view_.tabbar().delegate() != this) view_.tabbar().setDelegate(this);
    view_.tabbar().selectItemWithIdentifier(settingsPaneItems()[0].identifier);
    populateCopyrightField();
    if (entirePage_ && rows_.empty()) {
        // The list layout is built once the window has loaded.
        setupWindowData();
        entirePage_->loadViewIfNeeded();
        entirePage_->setupVPNProtocolsDropdownMenu();
        const auto stored = deps_.settings.value(SettingsUserDefaults::vpnProtocols);
        const std::string* text = stored ? std::get_if<std::string>(&stored->value) : nullptr;
        if (const auto index = text ? settingsProtocolIndex(*text) : std::nullopt) entirePage_->selectVPNProtocol(*index);
        entirePage_->populateCopyrightField();
        entirePage_->onWiFiSecurity_Enabled_Changed(deps_.settings.boolValue(SettingsUserDefaults::wi_fi_SecurityEnabled));
    }
}

void SettingsWindowViewController::setupAfterOpening() {
    updateTrustedNetworksManagement_State(model().wi_fi_SecurityEnabled);
    disableApplyButton();
    setupTrustedNetworksListTableViewController();
    // One observer for the life of the window, however often it opens.
    if (!observing_) {
        observing_ = true;
        model().addVPNSettingsChangingDisabledObserver<Alive>(
            alive_, [](Alive& alive, bool disabled) { alive.self->onVPNSettingsChangingDisabledNotification(disabled); });
    }
    updateVPNProtocolsAvailability();
}

void SettingsWindowViewController::setupBeforeClosing() {
    if (!skipSettingsRestore_) restoreSettingsToPreviousValues();
    skipSettingsRestore_ = false;
    // A scan still running must not fill a sheet that is gone.
    addNetworkSheetOpen_ = false;
    ++scanGeneration_;
}

// --- Apply, Cancel and change tracking ---

void SettingsWindowViewController::onApplyButtonClick() {
    applyChanges();
    model().trustedNetworks = SettingsTrustedNetworksTableViewController::trustedNetworkList;
    model().saveTrustedNetworks();
}

void SettingsWindowViewController::applyChanges() {
    auto& defaults = deps_.settings;
    if (defaults.hasUnappliedChanges() && model().vpnSettingsChangingDisabled()) {
        if (model().currentConnectionState() == ConnectionStates::connected) {
            // Controls locked by a live tunnel may still carry an edit made
            // before the lock; it must not reach the tunnel (the greyed
            // controls say why).
            log::info(kLog, "a live tunnel: the protocol and the kill switch keep their stored values");
            defaults.revert(SettingsUserDefaults::vpnProtocols);
            defaults.revert(SettingsUserDefaults::useNetworkLock);
        } else {
            // Between the tries of an attempt nothing runs that the change
            // could break: the next try takes it.
            log::info(kLog, "applied during a connection attempt: its next try takes the new settings");
        }
    }
    if (defaults.hasUnappliedChanges()) {
        defaults.save();
        model().applySettings(defaults.values());
        model().startMinimized = false;
        skipSettingsRestore_ = true;
    }
    closeWindow();
}

void SettingsWindowViewController::cancelChanges() {
    restoreSettingsToPreviousValues();
    closeWindow();
}

void SettingsWindowViewController::closeWindow() { deps_.shell.closeSettingsWindow(); }

void SettingsWindowViewController::restoreSettingsToPreviousValues() {
    if (deps_.settings.hasUnappliedChanges()) deps_.settings.revert();
}

void SettingsWindowViewController::onParametersChanges() {
    log::info(kLog, "on Options parameters changed!");
    if (hasUnappliedChanges()) enableApplyButton();
    else disableApplyButton();
}

bool SettingsWindowViewController::hasUnappliedChanges() const {
    return deps_.settings.hasUnappliedChanges() || hasUpdatedTrustedNetworksValues();
}

bool SettingsWindowViewController::hasUpdatedTrustedNetworksValues() const {
    return SettingsTrustedNetworksTableViewController::trustedNetworkList != model().trustedNetworks;
}

void SettingsWindowViewController::enableApplyButton() {
    applyEnabled_ = true;
    view_.setApplyEnabled(true);
}

void SettingsWindowViewController::disableApplyButton() {
    applyEnabled_ = false;
    view_.setApplyEnabled(false);
}

// --- Control handlers ---

void SettingsWindowViewController::onVPNProtocolSelectionChanged() {
    if (entirePage_) entirePage_->onVPNProtocolsDropdownChanged();
    onParametersChanges();
}

void SettingsWindowViewController::onWiFiSecurity_Enabled_Changed(bool on) {
    updateTrustedNetworksManagement_State(on);
    if (entirePage_) entirePage_->onWiFiSecurity_Enabled_Changed(on);
    onParametersChanges();
}

void SettingsWindowViewController::onTrustedNetworksManagementChanged(bool on) {
    if (on) enableTrustedNetworksMangement();
    else disableTrustedNetworksMangement();
    onParametersChanges();
}

void SettingsWindowViewController::updateTrustedNetworksManagement_State(bool enabled) {
    if (enabled) enableTrustedNetworksMangement();
    else disableTrustedNetworksMangement();
    view_.setTrustedNetworksCheckboxEnabled(enabled);
}

// --- The protocol lock ---

void SettingsWindowViewController::updateVPNProtocolsAvailability() {
    onVPNSettingsChangingDisabledNotification(model().vpnSettingsChangingDisabled());
}

void SettingsWindowViewController::onVPNSettingsChangingDisabledNotification(bool disabled) {
    if (disabled) disableProtocolsChanging();
    else enableProtocolsChanging();
}

void SettingsWindowViewController::disableProtocolsChanging() {
    later([](SettingsWindowViewController& self) {
        self.protocols_->disableProtocolsChanging();
        self.view_.setKillSwitchCheckboxEnabled(false);
        if (self.entirePage_) self.entirePage_->disableProtocolsChanging();
    });
}

void SettingsWindowViewController::enableProtocolsChanging() {
    later([](SettingsWindowViewController& self) {
        self.protocols_->enableProtocolsChanging();
        self.view_.setKillSwitchCheckboxEnabled(true);
        if (self.entirePage_) self.entirePage_->enableProtocolsChanging();
    });
}

// --- Trusted networks ---

void SettingsWindowViewController::setupTrustedNetworksListTableViewController() {
    trustedController_ = std::make_unique<SettingsTrustedNetworksTableViewController>();
    trustedController_->setup(&view_.trustedNetworksTable(), model().trustedNetworks);
}

void SettingsWindowViewController::onAuto_WiFi_Trusted_table_Segmented_control_Click(int segment) {
    log::info(kLog, "control.selectedSegment: " + std::to_string(segment));
    if (segment == 0) onAuto_WiFi_Plus_Button_Click();
    else if (segment == 1) onAuto_WiFi_Minus_Button_Click();
}

void SettingsWindowViewController::onAuto_WiFi_Plus_Button_Click() {
    log::info(kLog, "onAuto_WiFi_Plus_Button_Click");
    showAvailableNetworksList();
}

void SettingsWindowViewController::showAvailableNetworksList() {
    later([](SettingsWindowViewController& self) { self.view_.setAddNetworkLoading(true); });
    view_.beginAddNetworkSheet();
    view_.setAddNetworkMessage({});
    addNetworkSheetOpen_ = true;

    // Made and filled here on the main thread; only the scan runs elsewhere.
    addNetworkController_ = std::make_unique<SettingsAddNetworkToTrustedTableViewController>();
    addNetworkController_->setup(&view_.availableNetworksTable(), SettingsTrustedNetworksTableViewController::trustedNetworkList,
                                 [this](const TrustedNetworkItem& network) { addToTrustedNetworksWithInputNetwork(network); });
    addNetworkController_->onTrustedNetworksLoaded = [this] { view_.setAddNetworkLoading(false); };
    const unsigned generation = ++scanGeneration_;
    std::shared_ptr<WiFi_InfoHelperObjC> wifi = deps_.wifiInfo ? deps_.wifiInfo() : nullptr;
    if (!wifi) {
        later([generation](SettingsWindowViewController& self) {
            if (generation == self.scanGeneration_ && self.addNetworkSheetOpen_)
                self.addNetworkController_->populateAvailableNetworksList({});
        });
        return;
    }
    std::weak_ptr<Alive> weak = alive_;
    MainQueue& main = deps_.mainQueue;
    deps_.background.async([wifi, weak, generation, &main] {
        auto scan = wifi->scanForAvailableNetworks();
        main.post([weak, generation, scan = std::move(scan)] {
            auto alive = weak.lock();
            if (!alive) return;
            auto& self = *alive->self;
            // The sheet closed or was filled again meanwhile.
            if (generation != self.scanGeneration_ || !self.addNetworkSheetOpen_) return;
            self.addNetworkController_->populateAvailableNetworksList(scan.networks);
            if (scan.timedOut) self.view_.setAddNetworkMessage(LocaleData::settings_window_scan_timed_out());
        });
    });
}

void SettingsWindowViewController::onAuto_WiFi_Minus_Button_Click() {
    log::info(kLog, "onAuto_WiFi_Minus_Button_Click");
    const long row = view_.selectedTrustedNetworkRow();
    if (row < 0 || !trustedController_) return;
    trustedController_->removeToTrustedNetworksWithInputIndex(row);
    onParametersChanges();
}

void SettingsWindowViewController::onAddNetworkButton_Click() {
    log::info(kLog, "onAddNetworkButton_Click");
    if (!addNetworkController_) return;
    if (const auto network = addNetworkController_->networkAt(view_.selectedAvailableNetworkRow()))
        addToTrustedNetworksWithInputNetwork(*network);
}

void SettingsWindowViewController::onAvailableNetworkDoubleClick(long row) {
    if (addNetworkController_) addNetworkController_->doubleClickOnNetworkRow(row);
}

void SettingsWindowViewController::onCloseTrustedNetworkModalWindow() {
    log::info(kLog, "onCloseTrustedNetworkModalWindow");
    addNetworkSheetOpen_ = false;
    view_.endAddNetworkSheet();
}

void SettingsWindowViewController::addNetworkSheetEnded(int response) {
    addNetworkSheetOpen_ = false;
    log::info(kLog, "addTrustedNetworksModalWindow -- " + std::to_string(response));
}

void SettingsWindowViewController::addToTrustedNetworksWithInputNetwork(const TrustedNetworkItem& network) {
    if (trustedController_) trustedController_->addToTrustedNetworksWithInputItem(network);
    addNetworkSheetOpen_ = false;
    view_.endAddNetworkSheet();
    onParametersChanges();
}

// --- Support and update check ---

void SettingsWindowViewController::openSupportTicketButton_Click() {
    log::info(kLog, "openSupportTicketButton_Click");
    view_.beginSupportTicketSheet();
}

void SettingsWindowViewController::onOpenSupportTicket_Submit_button_Click() {
    if (const auto body = view_.supportTicketBody()) {
        context().urlOpener.openURL(supportRequestMailto(deps_.supportEmail,
                                                         LocaleData::settings_window_open_support_ticket_subject(),
                                                         view_.supportTopic(), *body));
    }
    view_.endSupportTicketSheet();
}

void SettingsWindowViewController::onOpenSupportModalWindowClose() { view_.endSupportTicketSheet(); }

void SettingsWindowViewController::supportTicketSheetEnded(int response) {
    log::info(kLog, "openSupportTicket_window_closed -- " + std::to_string(response));
}

void SettingsWindowViewController::onKnowledgeBase_click() {
    openWebLink(context().urlOpener, deps_.links.knowledgeBaseURL ? deps_.links.knowledgeBaseURL() : std::nullopt, kLog);
}

void SettingsWindowViewController::onRunSpeedTest_click() {
    openWebLink(context().urlOpener, deps_.links.speedTestURL ? deps_.links.speedTestURL() : std::nullopt, kLog);
}

void SettingsWindowViewController::onCheckForUpdatesButtonClick() {
    log::info(kLog, "onCheckForUpdatesButtonClick");
    using L = LocaleData;
    const bool newer = deps_.checkingIfNewAppVersionAvailable && deps_.checkingIfNewAppVersionAvailable();
    if (!newer) {
        beginSheet({L::app_version_notification_popup_title(),
                    L::app_version_notificaiton_popup_description_prefix() + " (" + model().appVersion + ")",
                    {L::upgrade_app_notificaiton_popup_ok_button()}},
                   [](int) {});
        return;
    }
    if (model().useAutoUpdater) {
        startAutoUpdater();
        return;
    }
    AlertRequest request{L::upgrade_app_notificaiton_popup_title(), L::upgrade_app_notificaiton_popup_text(),
                         {L::upgrade_app_notificaiton_popup_download_button(),
                          L::upgrade_app_notificaiton_popup_cancel_button()}};
    request.modality = AlertModality::Application;
    std::weak_ptr<Alive> weak = alive_;
    window().alerts().presentAlert(request, [weak](int response) {
        auto alive = weak.lock();
        if (!alive) return;
        auto& self = *alive->self;
        if (response == kAlertFirstButtonReturn) {
            openWebLink(self.context().urlOpener, self.model().newAppVersionDowloadLink, kLog);
        } else if (response == kAlertSecondButtonReturn) {
            log::info(kLog, "NSAlertSecondButtonReturn");
        }
    });
}

void SettingsWindowViewController::populateCopyrightField() {
    view_.setVersionText(LocaleData::fill(LocaleData::settings_window_version_format_label(), model().appVersion));
}

void SettingsWindowViewController::startAutoUpdater() {
    view_.fadeInAutoUpdateOverlay(0.3);
    deps_.shell.startAutoUpdater(window());
}

void SettingsWindowViewController::autoUpdaterSheetEnded() {
    std::weak_ptr<Alive> weak = alive_;
    view_.fadeOutAutoUpdateOverlay(1.0, [weak] {
        if (auto alive = weak.lock()) alive->self->view_.hideAutoUpdateOverlay();
    });
}

// --- Tab bar and toolbar ---

std::vector<std::string> SettingsWindowViewController::tabbarGroupIdentifiers(DOTabbar&) { return {kGroupID}; }

std::vector<std::string> SettingsWindowViewController::tabbarItemIdentifiersForGroupIdentifier(DOTabbar&,
                                                                                             const std::string&) {
    std::vector<std::string> identifiers;
    for (const auto& item : settingsPaneItems()) identifiers.emplace_back(item.identifier);
    return identifiers;
}

DOTabbarItemCell SettingsWindowViewController::tabbarCellForItemIdentifier(DOTabbar&, const std::string& identifier) {
    log::info(kLog, "cellForItemIdentifier: " + identifier);
    DOTabbarItemCell cell;
    cell.setIdentifier(identifier);
    if (const auto* item = settingsPaneItem(identifier)) {
        cell.setTitle(item->tabbarTitle());
        cell.setImage(item->image);
    } else {
        log::info(kLog, "default case");
    }
    return cell;
}

void SettingsWindowViewController::tabbarDidSelectItemWithIdentifier(DOTabbar&, const std::string& identifier) {
    log::info(kLog, "didSelectItemWithIdentifier: " + identifier);
    const auto* item = settingsPaneItem(identifier);
    if (!item) {
        log::info(kLog, "default case");
        return;
    }
    selectPane(*item);
}

bool SettingsWindowViewController::selectPaneWithIdentifier(const std::string& identifier) {
    const auto* item = settingsPaneItem(identifier);
    if (!item) return false;
    view_.tabbar().selectItemWithIdentifier(identifier);
    selectPane(*item);
    return true;
}

void SettingsWindowViewController::selectPane(const SettingsPaneItem& item) {
    if (&item == &settingsPaneItems()[1]) updateVPNProtocolsAvailability();
    view_.selectTab(item.tab);
}

void SettingsWindowViewController::onToolbarItem(std::size_t index) {
    const auto& item = settingsPaneItems()[index];
    log::info(kLog, item.action);
    selectPane(item);
}

SettingsToolbarItem SettingsWindowViewController::toolbarItemForItemIdentifier(const std::string& identifier, bool) {
    static constexpr void (SettingsWindowViewController::*actions[])() = {
        &SettingsWindowViewController::onGeneralItemClick, &SettingsWindowViewController::onProtocolItemClick,
        &SettingsWindowViewController::onAutoWiFiItemClick, &SettingsWindowViewController::onKillSwitchItemClick,
        &SettingsWindowViewController::onSupportItemClick};
    const auto& items = settingsPaneItems();
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (identifier != items[i].identifier) continue;
        const std::string& label = items[i].toolbarLabel();
        auto action = actions[i];
        return customToolbarItem(identifier, label, label, label, this, items[i].image, [this, action] { (this->*action)(); });
    }
    SettingsToolbarItem plain;
    plain.identifier = identifier;
    return plain;
}

void SettingsWindowViewController::toolbarWillAddItem(SettingsToolbarItem& item) {
    if (item.identifier != kPrintItem) return;
    item.toolTip = "Print your document";
    item.target = this;
}

SettingsToolbarItem SettingsWindowViewController::customToolbarItem(const std::string& identifier,
                                                                    const std::string& label,
                                                                    const std::string& paletteLabel,
                                                                    const std::string& toolTip, const void* target,
                                                                    const std::string& image,
                                                                    std::function<void()> action) {
    return SettingsToolbarItem{identifier, label, paletteLabel, toolTip, image, target, std::move(action)};
}

// --- List layout ---

void SettingsWindowViewController::setupWindowData() {
    rows_ = settingsListRows();
    view_.reloadSettingsList(rows_);
    for (std::size_t row = 0; row < rows_.size(); ++row)
        view_.setSettingsListRowBackground(int(row), NORMAL_LOCATIONS_VIEW_ITEM_BACKGROUND);
}

bool SettingsWindowViewController::tableViewShouldSelectRow(int row) {
    if (row < 0 || std::size_t(row) >= rows_.size()) return false;
    changeDetailsView(rows_[std::size_t(row)]);
    paintSelectedRow(row);
    return true;
}

void SettingsWindowViewController::changeDetailsView(const SettingsListItemModel& item) {
    scrollToSpecificYPoint(detailsYForSection(item.section, view_.detailsDocumentHeight()));
}

void SettingsWindowViewController::onViewScrolling(double y) {
    const int row = getRowIndexByYScrollPosition(y);
    log::info(kLog, "onViewScrolling " + std::to_string(y) + " " + std::to_string(row));
    if (std::size_t(row) >= rows_.size()) return;
    view_.selectSettingsListRow(row);
    paintSelectedRow(row);
}

void SettingsWindowViewController::paintSelectedRow(int row) {
    if (previouslySelectedRow_ && *previouslySelectedRow_ != row)
        view_.setSettingsListRowBackground(*previouslySelectedRow_, NORMAL_LOCATIONS_VIEW_ITEM_BACKGROUND);
    view_.setSettingsListRowBackground(row, SELECTED_LOCATIONS_VIEW_ITEM_BACKGROUND);
    previouslySelectedRow_ = row;
}

}  // namespace hw
