#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "view/base_window_view_controller.h"
#include "view/do_tabbar.h"
#include "windows/settings/settings_entire_page_controller.h"
#include "windows/settings/settings_pane_controllers.h"
#include "windows/settings/settings_trusted_networks.h"
#include "windows/settings/settings_window_view.h"
#include "windows/shared/shell_commands.h"

namespace hw {

class BackgroundQueue;
class MainQueue;
class ServiceLayer;
class UserDefaultsController;
class WiFi_InfoHelperObjC;

// What the settings window is handed. Each reference must outlive it.
struct SettingsWindowDependencies {
    UserDefaultsController& settings;
    ShellCommands& shell;
    MainQueue& mainQueue;
    BackgroundQueue& background;
    // The hub's Wi-Fi information object, read on the main thread; none
    // without Wi-Fi.
    std::function<std::shared_ptr<WiFi_InfoHelperObjC>()> wifiInfo;
    // Whether the backend announces a newer version.
    std::function<bool()> checkingIfNewAppVersionAvailable;
    Settings_EntirePageController::Links links;
    std::string supportEmail;
};

// The dependencies as the hub answers them: its Wi-Fi object, its version
// check, its links manager's links and the support address.
SettingsWindowDependencies settingsDependenciesFromHub(ServiceLayer& hub, UserDefaultsController& settings,
                                                       ShellCommands& shell, MainQueue& mainQueue,
                                                       BackgroundQueue& background);

// One toolbar item as the toolbar delegate makes it.
struct SettingsToolbarItem {
    std::string identifier;
    std::string label;
    std::string paletteLabel;
    std::string toolTip;
    std::string image;  // empty: none
    const void* target = nullptr;
    std::function<void()> action;
};

// The settings window: every persisted option, held as pending edits until
// Apply or thrown away by Cancel or close; the trusted networks, the support
// request and the update check. Plain C++; main thread only.
class SettingsWindowViewController final : public BaseWindowViewController, public DOTabbarDelegate {
public:
    static constexpr char NORMAL_LOCATIONS_VIEW_ITEM_BACKGROUND[] = "#373a3d";
    static constexpr char SELECTED_LOCATIONS_VIEW_ITEM_BACKGROUND[] = "#4b4e51";
    static constexpr char TABLE_BACKGROUND[] = "#373a3d";

    // entirePage: the single page of the list layout; none in the tabbed one.
    SettingsWindowViewController(const BaseControllerContext& context, WindowView& window, SettingsWindowView& view,
                                 SettingsWindowDependencies dependencies, SettingsEntirePageView* entirePage = nullptr);
    ~SettingsWindowViewController() override;

    // Hooks, public for the shell's port.
    void setupComponents() override;
    void setupAfterOpening() override;
    void setupBeforeClosing() override;

    // Apply, Cancel and change tracking.
    void onApplyButtonClick();
    void applyChanges();
    void cancelChanges();
    void onBackButton_click() { cancelChanges(); }
    void closeWindow();
    void restoreSettingsToPreviousValues();
    void onParametersChanges();
    bool hasUnappliedChanges() const;
    bool hasUpdatedTrustedNetworksValues() const;
    bool applyEnabled() const { return applyEnabled_; }
    bool skipSettingsRestore() const { return skipSettingsRestore_; }

    // Control handlers.
    void onVPNProtocolSelectionChanged();
    void onWiFiSecurity_Enabled_Changed(bool on);
    void onTrustedNetworksManagementChanged(bool on);
    void updateTrustedNetworksManagement_State(bool enabled);
    void enableTrustedNetworksMangement() { view_.setTrustedNetworksEditingEnabled(true); }
    void disableTrustedNetworksMangement() { view_.setTrustedNetworksEditingEnabled(false); }

    // The protocol lock.
    void updateVPNProtocolsAvailability();
    void onVPNSettingsChangingDisabledNotification(bool disabled);
    void disableProtocolsChanging();
    void enableProtocolsChanging();

    // Trusted networks.
    void onAuto_WiFi_Trusted_table_Segmented_control_Click(int segment);
    void onAuto_WiFi_Plus_Button_Click();
    void onAuto_WiFi_Minus_Button_Click();
    void onAddNetworkButton_Click();
    void onAvailableNetworkDoubleClick(long row);
    void onCloseTrustedNetworkModalWindow();
    void addNetworkSheetEnded(int response);
    void addToTrustedNetworksWithInputNetwork(const TrustedNetworkItem& network);
    SettingsAddNetworkToTrustedTableViewController* addNetworkToTrustedTableViewController() const {
        return addNetworkController_.get();
    }

    // Support and update check.
    void openSupportTicketButton_Click();
    void onOpenSupportTicket_Submit_button_Click();
    void onOpenSupportModalWindowClose();
    void supportTicketSheetEnded(int response);
    void onKnowledgeBase_click();
    void onRunSpeedTest_click();
    void onCheckForUpdatesButtonClick();
    void populateCopyrightField();
    void startAutoUpdater();
    // The shell reports that the update sheet has ended.
    void autoUpdaterSheetEnded();

    // DOTabbarDelegate.
    std::vector<std::string> tabbarGroupIdentifiers(DOTabbar& tabbar) override;
    std::vector<std::string> tabbarItemIdentifiersForGroupIdentifier(DOTabbar& tabbar,
                                                                     const std::string& group) override;
    DOTabbarItemCell tabbarCellForItemIdentifier(DOTabbar& tabbar, const std::string& item) override;
    std::optional<std::string> tabbarTitleForGroupIdentifier(DOTabbar&, const std::string&) override {
        return std::nullopt;
    }
    void tabbarDidSelectItemWithIdentifier(DOTabbar& tabbar, const std::string& identifier) override;

    // Toolbar: the items the window's toolbar shows.
    SettingsToolbarItem toolbarItemForItemIdentifier(const std::string& identifier, bool willBeInserted);
    void toolbarWillAddItem(SettingsToolbarItem& item);
    SettingsToolbarItem customToolbarItem(const std::string& identifier, const std::string& label,
                                          const std::string& paletteLabel, const std::string& toolTip,
                                          const void* target, const std::string& image, std::function<void()> action);
    void onGeneralItemClick() { onToolbarItem(0); }
    void onProtocolItemClick() { onToolbarItem(1); }
    void onAutoWiFiItemClick() { onToolbarItem(2); }
    void onKillSwitchItemClick() { onToolbarItem(3); }
    void onSupportItemClick() { onToolbarItem(4); }

    // List layout.
    void setupWindowData();
    const std::vector<SettingsListItemModel>& settingsTableDataObject() const { return rows_; }
    bool tableViewShouldSelectRow(int row);
    void changeDetailsView(const SettingsListItemModel& item);
    void scrollToSpecificYPoint(double y) { view_.scrollDetailsToY(y); }
    // The details area scrolled; y is the y-up position of its bottom edge.
    void onViewScrolling(double y);
    std::optional<int> previouslySelectedRow() const { return previouslySelectedRow_; }
    Settings_EntirePageController* entirePageSettingsController() const { return entirePage_.get(); }

    // The panes' own controllers.
    Settings_GeneralOptionsController& generalOptionsController() { return *general_; }
    Settings_VPNProtocolsOptionsController& vpnProtocolsViewController() { return *protocols_; }
    Settings_SupportOptionsController& supportOptionsController() { return *support_; }
    // Shows a pane as its tab-bar item does; false for an identifier that
    // names none. The window may be open or about to be.
    bool selectPaneWithIdentifier(const std::string& identifier);

private:
    struct Alive {
        SettingsWindowViewController* self;
    };
    void enableApplyButton();
    void disableApplyButton();
    void setupTrustedNetworksListTableViewController();
    void showAvailableNetworksList();
    void onToolbarItem(std::size_t index);
    void selectPane(const SettingsPaneItem& item);
    void paintSelectedRow(int row);
    // Runs on the main queue while this controller lives.
    void later(std::function<void(SettingsWindowViewController&)> task);

    SettingsWindowView& view_;
    SettingsWindowDependencies deps_;
    std::unique_ptr<Settings_EntirePageController> entirePage_;
    std::unique_ptr<Settings_GeneralOptionsController> general_;
    std::unique_ptr<Settings_VPNProtocolsOptionsController> protocols_;
    std::unique_ptr<Settings_SupportOptionsController> support_;
    std::unique_ptr<SettingsTrustedNetworksTableViewController> trustedController_;
    std::unique_ptr<SettingsAddNetworkToTrustedTableViewController> addNetworkController_;
    std::vector<SettingsListItemModel> rows_;
    std::optional<int> previouslySelectedRow_;
    std::shared_ptr<Alive> alive_;
    bool skipSettingsRestore_ = false;
    bool applyEnabled_ = false;
    bool observing_ = false;
    bool addNetworkSheetOpen_ = false;
    unsigned scanGeneration_ = 0;
};

}  // namespace hw
