#pragma once
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/global_constants.h"
#include "core/smart_widget_data.h"
#include "core/vpn_connection_details_callbacks.h"
#include "network/probe_url_reachability_helper.h"
#include "platform/clock.h"
#include "platform/user_notification_center.h"
#include "view/base_window_view_controller.h"
#include "windows/details_pane/details_pane.h"
#include "windows/locations/locations_list_window_view.h"
#include "windows/locations/locations_window.h"
#include "windows/main/main_window_view.h"
#include "windows/main/profile_menu_table_view_controller.h"
#include "windows/shared/locations_table_view_model.h"
#include "windows/shared/pane_engine.h"
#include "windows/shared/remote_image_loader.h"
#include "windows/shared/shell_commands.h"

namespace hw {

class LinksManager;
class WiFi_InfoHelperObjC;

// What the main window is built on. Each reference must outlive the controller.
struct MainWindowEnvironment {
    BaseControllerContext context;
    WindowView& window;
    MainWindowView& view;
    MainQueue& queue;
    Clock& clock;
    ShellCommands& shell;
    UserNotificationCenter& notifications;
    LinksManager& links;
    std::shared_ptr<ProbeURLReachabilityHelper> probe;
    // The Wi-Fi information object; it may be absent.
    std::function<std::shared_ptr<WiFi_InfoHelperObjC>()> wifiInfo;
    PaneEngine& engine;
    RemoteImageLoader& images;
    LocationsWindow* locationsWindow = nullptr;
    // Makes the details pane when the window loads; none while there is no pane.
    std::function<std::shared_ptr<DetailsPane>()> makeDetailsPane;
    bool isEnterpriseVersion = GlobalConstants::isEnterpriseVersion;
};

// The two lines of the widget's subtitle.
std::pair<std::string, std::string> splitSmartWidgetSubtitle(const std::string& subtitle);

// The main window: locations table, map and flag, information widget,
// profile menu and the reactions to network changes. Plain C++ against
// MainWindowView; main thread only. Held by shared_ptr: the probe's delegate
// and every delayed task reach it through a weak pointer.
class MainWindowViewController final : public BaseWindowViewController,
                                       public MainWindowViewEvents,
                                       public ProbeURLDelegate,
                                       public LocationsWindowMain,
                                       public std::enable_shared_from_this<MainWindowViewController> {
public:
    static constexpr double SMART_WIDGET_DATA_UPDATE_FADE_TIME = 0.9;
    static constexpr double kSmartWidgetUpdateDelayMs = 5000;
    static constexpr int SMART_WIDGET_SUBTITLE_FIRST_LINE_MAX_ALLOWED_CHARS = 31;
    static constexpr double MIN_THRESHOLD_FOR_showConnectedToWiFiNotification = 0.1;
    static constexpr double MAP_IMAGE_PADDING_X = 12.0;
    static constexpr double MAP_IMAGE_WIDTH_OFFSET = 2 * MAP_IMAGE_PADDING_X;
    static constexpr char kEnterpriseWidgetPage[] = "blog/automatic-wifi-security-feature";
    static constexpr std::array<const char*, 4> kProfilePopUpIcons{"My_Account", "View_Invoices", "Invite_friends",
                                                                  "Sign_out"};
    static constexpr std::array<const char*, 4> kProfilePopUpWhiteIcons{"My_Account_white", "View_Invoices_white",
                                                                       "Invite_friends_white", "Sign_out_white"};

    explicit MainWindowViewController(MainWindowEnvironment environment);
    ~MainWindowViewController() override;

    // Set-up and data (main_window_view_controller.cpp).
    void setupMainView(std::shared_ptr<LocationsListModel> data, VPNConnectionDetailsCallbacks callbacks);
    void updateTableData(std::shared_ptr<LocationsListModel> data);
    void updateMainViewMapImage();
    void updateHandCursorsInDetailsView();
    void prepareMainViewAfterSettingsViewBeenClosed() { updateHandCursorsInDetailsView(); }
    void refreshTopNotificationBar(const std::shared_ptr<TopNotificationBarModel>& top,
                                   const std::shared_ptr<BottomNotificationBarModel>& bottom);
    void showUpdateAvailableNotificationBar();
    void windowDidBecomeMain() override;
    // Nothing before the window has loaded its pane.
    const std::shared_ptr<DetailsPane>& detailsViewController() const { return detailsViewController_; }
    ConnectionIntents& connectionIntents() { return env_.engine.intents(); }
    bool setupMainViewPending() const { return setupMainViewPending_; }
    bool hasPendingSetupData() const { return pendingInputData_ || pendingConnectionDetailsCallback_; }

    // Selection (main_window_selection.cpp).
    void selectLocation(const LocationsListItemPtr& location, bool skipFlagAnimation = false);
    void selectLocationProcessing(const LocationsListItemPtr& location, bool skipFlagAnimation,
                                  bool automaticLocationCall) override;
    void performConnectCommand();
    void onFlagImageClick();
    const LocationsListItemPtr& currentLocation() const override { return model().currentLocation(); }
    // ---- Locations window ----
    std::optional<WindowFrame> mainWindowFrame() override { return window().frame(); }
    // ---- end locations window ----

    // The table (main_window_table.cpp).
    void onTableRowClicked(int row) override;
    void doubleClickOnLocationsRow(int clickedRow) override;
    void onFavoriteButtonClick(int row) override;
    void onSearchFieldChanged(const std::string& text) override;
    void handleAutomaticHeaderClick();
    void handleAutomaticHeaderTapProcessing(bool unused);
    void reloadTableData();
    void activateTableView();
    void deactivateTableView();
    LocationsTableViewModel& tableViewModel() { return table_; }
    const std::shared_ptr<LocationsListModel>& tableViewDataObject() const { return tableViewDataObject_; }

    // Map and flag (main_window_map.cpp).
    void setLoadedBackgroundImage(ImagePtr image);
    const ImagePtr& loadedBackgroundImage() const { return loadedBackgroundImage_; }
    void flagPlacementProcessing(bool animate);
    void placeFlagInPosition(double startX, double startY, double imageWidth, double imageHeight, bool skipAnimation);
    void animateFlagAppearing();
    void startAnimateFlagConnectionProgress();
    void stopAnimateFlagConnectionProgress();
    void onMapViewResized() override;
    bool pendingLoadedBackgroundImage() const { return pendingLoadedBackgroundImage_; }
    bool pendingFlagImagePlacementRequest() const { return pendingFlagImagePlacementRequest_; }

    // Information widget (main_window_smart_widget.cpp).
    void configureSmartWidgetWithData(const std::shared_ptr<SmartWidgetData>& data);
    void onLatestSmartWidgetDataLoadedWithData(const std::shared_ptr<SmartWidgetData>& data);
    void updateSmartWidgetData(const std::shared_ptr<SmartWidgetData>& data);
    void applySmartWidgetData(const std::shared_ptr<SmartWidgetData>& data, bool skipAnimation);
    void showSmartWidgetDataLoading();
    void hideSmartWidgetDataLoading();
    void updateSmartWidgetSubtitleWithSubtitle(const std::string& subtitle);
    void onSmartWidgetViewClick();
    void onSmartWidget_linkButtonClick();
    const std::shared_ptr<SmartWidgetData>& recentSmartWidgetData() const { return recentSmartWidgetData_; }

    // Network and Wi-Fi (main_window_network.cpp).
    void showWiFiInsecureNotification();
    void showConnectedToWiFiNotification();
    void showNoOnternetConnectionOverlay();
    void hideNoOnternetConnectionOverlay();
    void startProbeURLChecking();
    void onProbeURL_Succeded() override;
    void onProbeURL_Failed() override;
    void holdWiFiSecurityAfterEnd();
    bool isVPN_for_Unsecured_Wi_Fi_establishing() const;
    std::optional<double> lastTimeOf_showConnectedToWiFiNotification_occured() const { return lastConnectedToWiFi_; }

    // Buttons and profile menu (main_window_profile.cpp).
    void onProfileButtonClick() override;
    void onProfileMenuRowClicked(int row) override;
    void menuWillHighlightItem(std::optional<int> item) override;
    void onProfilePopUpMenuItem(int item) override;
    void onSettingsButtonClick() override;
    void onLocationsButtonClick() override { openLocationsWindow(); }
    void openLocationsWindow();
    bool connectButtonPopoverShown() const { return connectButtonPopoverShown_; }
    // The shell closes the hint, as the pointer leaving the button would.
    void closeConnectButtonPopover();
    void dropConnectButtonHover();
    bool isInDisconnectedState() const;
    bool isInConnectedState() const;
    bool isInConnectingState() const;
    ProfileMenuTableViewController& profileMenuController() { return profileMenu_; }

protected:
    void setupComponents() override;
    void customizeComponents() override;
    void setupAfterOpening() override;
    void setupBeforeClosing() override;
    void prepareWindowMoveObservers() override { doPrepareWindowMoveObservers(); }
    void onWindowMoved(const WindowFrame& frame) override;

private:
    // Runs the task later on the main queue while the controller lives.
    void later(double ms, std::function<void(MainWindowViewController&)> task);
    void onMainViewFlagLoaded(const LocationsListItemPtr& location, bool skipFlagAnimation);
    void setupProfilePopUpMenuItems();
    void runProfileCommand(ProfileMenuTableSections section);
    void openLink(const std::optional<std::string>& link, const char* what);
    void installDNSIfSettled();
    void setupConnectButtonHoverObservers();
    static void removeConnectButtonHoverObservers();

    MainWindowEnvironment env_;
    LocationsTableViewModel table_;
    ProfileMenuTableViewController profileMenu_;
    std::shared_ptr<DetailsPane> detailsViewController_;
    std::shared_ptr<LocationsListModel> tableViewDataObject_;
    std::shared_ptr<SmartWidgetData> recentSmartWidgetData_;
    ImagePtr loadedBackgroundImage_;
    ImagePtr loadedFlagImage_;
    bool pendingLoadedBackgroundImage_ = false;
    bool pendingFlagImagePlacementRequest_ = false;
    bool flagShown_ = false;
    bool setupMainViewPending_ = false;
    std::shared_ptr<LocationsListModel> pendingInputData_;
    std::optional<VPNConnectionDetailsCallbacks> pendingConnectionDetailsCallback_;
    bool connectButtonPopoverShown_ = false;
    bool windowFocusObserved_ = false;
    // After an end on purpose the first insecure-network event connects
    // nothing; the hold is spent half a second later or on another network.
    bool wifiSecurityHeldAfterEnd_ = false;
    bool wifiSecurityHoldSpent_ = false;
    std::optional<double> lastConnectedToWiFi_;
    std::string previousSearchFieldValue_;
};

}  // namespace hw
