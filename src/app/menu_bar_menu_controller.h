#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/menu_model.h"
#include "core/vpn_connection_details_callbacks.h"
#include "platform/backend/parse_file.h"
#include "platform/main_queue.h"

namespace hw {

class ApplicationModel;
class LocationsListItemModel;
class LocationsListModel;

// What the menus ask of the application delegate.
class MenuBarMenuCommands {
public:
    virtual ~MenuBarMenuCommands() = default;
    virtual void changeAppToBeNormalApp() = 0;
    virtual void changeAppToBeUserAgent() = 0;
    virtual void performConnectCommand() = 0;
    virtual void performSelectLocationCommand(const std::shared_ptr<LocationsListItemModel>& item) = 0;
    virtual void performLogout() = 0;
    // The signed-out menu's Sign In.
    virtual void performSignInCommand() = 0;
    virtual void quitApplicationRequested() = 0;
    // Where every location can be chosen when the submenu holds only some.
    virtual void openLocationsWindow() = 0;
    virtual void sendAnalyticsEvent(const std::string& name,
                                    const std::optional<std::map<std::string, std::string>>& parameters) = 0;
    virtual void addAppModeChangeNotification(std::function<void()> subscriber) = 0;
    virtual void clearAppModeChangeNotifications() = 0;
};

// Fetches a flag; the reply may come at once or later on the main queue,
// with null when there is no image.
using MenuFlagLoader = std::function<void(const ParseFilePtr& file, std::function<void(ImagePtr)> reply)>;

// The shell's menus: the status item's three and their Dock twins.
struct ShellMenus {
    MenuPtr default_menuBarMenu;
    MenuPtr noInternetConnection_menu;
    MenuPtr menuBarMenu;
    MenuPtr default_DockMenuBarMenu;
    MenuPtr noInternetConnection_DockMenu;
    MenuPtr dockMenu;
};

// Item tags of the fixed items.
namespace menu_tags {
inline constexpr char app[] = "app";
inline constexpr char location[] = "location";
inline constexpr char protocol[] = "protocol";
inline constexpr char ip[] = "ip";
inline constexpr char status[] = "status";
inline constexpr char connect[] = "connect";
inline constexpr char statusBarOnly[] = "statusBarOnly";
inline constexpr char signIn[] = "signIn";
inline constexpr char signOut[] = "signOut";
inline constexpr char quit[] = "quit";
inline constexpr char noInternet[] = "noInternet";
}  // namespace menu_tags

// Keeps the full status-bar and Dock menus in step with the connection and
// turns menu choices into the delegate's commands. Main thread only.
class MenuBarMenuController {
public:
    static constexpr double LOCATION_ITEM_FLAG_IMAGE_SIZE = 19.0;
    static constexpr char kAutomaticImage[] = "Automatic_location_icon_small";
    // Longer lists are shortened in the location submenus.
    static constexpr std::size_t kWholeListInMenuUpTo = 40;
    static constexpr std::size_t kLocationsPerGroupInMenu = 12;

    MenuBarMenuController(ApplicationModel& model, MenuBarMenuCommands& commands, MenuFlagLoader loadFlag,
                          MainQueue& queue);
    ~MenuBarMenuController();
    MenuBarMenuController(const MenuBarMenuController&) = delete;
    MenuBarMenuController& operator=(const MenuBarMenuController&) = delete;

    const ShellMenus& menus() const { return menus_; }
    VPNConnectionDetailsCallbacks connectionDetailsCallbacks;
    std::shared_ptr<LocationsListModel> locationsListModel;

    // Set-up.
    void prepareAboutMenu();
    void prepareMenu();
    void determineToShowAppLaunchItemOrNot();
    void showAppLaunchItem() { setAppLaunchItemHidden(false); }
    void hideAppLaunchItem() { setAppLaunchItemHidden(true); }
    // false: the status-bar submenu; true: the Dock's.
    void createLocationsList(bool dock);
    void updateLocationItemTitle(const std::shared_ptr<LocationsListItemModel>& item);
    void disabledAllLocationItems() { setAllLocationItemsEnabled(false); }
    void enableAllLocationItems() { setAllLocationItemsEnabled(true); }
    void registerConnectionDetailsCallbacks();
    // A star changed in a window: both submenus are built again, on the main
    // queue, once for however many stars changed meanwhile.
    void onFavoritesChanged();

    // From the engine and the state object.
    void onIPaddressUpdatedCallback(const std::string& address);
    void onConnectionStatusUpdatedCallback(const std::string& status);
    void onVPNProtocolUpdatedCallback(const std::string& protocol);
    void onConnectButtonStateChangedCallback(const std::string& state);
    void onChosenLocationChangedCallback(const LocationsListItemModel& location);
    void onVPNSettingsChangingDisabledHandler(bool disabled);

    // Menu actions; a location item names itself as the sender.
    void onHavenwayAppMenuItemClick();
    void onStatusBarOnlyMenuItemClick();
    void onConnectMenuItemClick();
    void onLocationItemSelectedInStatusBar(const MenuItemModel* sender);
    void onLocationItemSelectedInDockMenu(const MenuItemModel* sender);
    void onSignInItemClick();
    void onSignOutItemClick();
    void onQuitMenuItemClick();

    // "CONNECT" → "Connect", "RECONNECTING" → "Reconnecting".
    static std::string capitalized(const std::string& text);

private:
    struct Side;
    Side& side(bool dock);
    void buildMenus();
    void setAppLaunchItemHidden(bool hidden);
    void updateLocationLine(const LocationsListItemModel& location);
    void setAllLocationItemsEnabled(bool enabled);
    void setItemFlagImage(const MenuItemPtr& item, const LocationsListItemModel& location, const MenuPtr& menu,
                          std::uint64_t generation, std::uint64_t Side::*counter, bool dock);
    void selectItem(bool dock, const MenuItemModel* item);
    void onLocationItemSelected(bool dock, const MenuItemModel* sender);
    void onLocationItemSelectedProcessing(const std::shared_ptr<LocationsListItemModel>& location);
    // Sets a line's title on both menus.
    void setTwinTitles(const MenuItemPtr& bar, const MenuItemPtr& dock, const std::string& title);
    void setIPLineShown(bool shown);
    std::vector<std::shared_ptr<LocationsListItemModel>> menuLocations() const;
    bool shortensMenu() const;
    void observeFavorites();
    void rebuildKeepingChecks();

    ApplicationModel& model_;
    MenuBarMenuCommands& commands_;
    MenuFlagLoader loadFlag_;
    MainQueue& queue_;
    ShellMenus menus_;
    std::unique_ptr<Side> statusBar_;
    std::unique_ptr<Side> dockSide_;
    std::weak_ptr<LocationsListItemModel> chosen_;
    bool stateObserversAdded_ = false;
    std::weak_ptr<LocationsListModel> favoritesObserved_;
    bool favoritesRebuildPending_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
