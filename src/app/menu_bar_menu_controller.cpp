#include "app/menu_bar_menu_controller.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include "core/application_model.h"
#include "platform/log.h"
#include "services/analytics_event.h"
#include "services/locations_list_item_model.h"
#include "services/locations_list_model.h"
#include "texts/locale_data.h"

namespace hw {
namespace {
constexpr char kLog[] = "MenuBarMenuController";
}

// One of the twin menus: its live lines, its location submenu and which
// location each submenu item stands for.
struct MenuBarMenuController::Side {
    MenuPtr menu;
    MenuItemPtr appItem, locationItem, protocolItem, ipItem, statusItem, connectItem;
    MenuPtr locationSubMenu;
    // Null until the first list is built.
    std::optional<std::vector<std::pair<const MenuItemModel*, LocationsListItemPtr>>> itemsToModels;
    // Bumped by every rebuild and every new location line: a flag that
    // arrives for an older one is dropped.
    std::uint64_t listGeneration = 0;
    std::uint64_t lineGeneration = 0;
};

MenuBarMenuController::MenuBarMenuController(ApplicationModel& model, MenuBarMenuCommands& commands,
                                             MenuFlagLoader loadFlag, MainQueue& queue)
    : model_(model),
      commands_(commands),
      loadFlag_(std::move(loadFlag)),
      queue_(queue),
      statusBar_(std::make_unique<Side>()),
      dockSide_(std::make_unique<Side>()) {
    buildMenus();
}

MenuBarMenuController::~MenuBarMenuController() = default;

MenuBarMenuController::Side& MenuBarMenuController::side(bool dock) { return dock ? *dockSide_ : *statusBar_; }

void MenuBarMenuController::buildMenus() {
    auto action = [this](void (MenuBarMenuController::*f)()) { return [this, f] { (this->*f)(); }; };
    auto item = [](const char* tag, std::string title, std::function<void()> run, bool enabled = true) {
        MenuItemModel i;
        i.tag = tag;
        i.title = std::move(title);
        i.action = std::move(run);
        i.enabled = enabled;
        return i;
    };
    const std::string product = model_.appProductName;
    auto quitItem = [&] { return item(menu_tags::quit, "Quit " + product, action(&MenuBarMenuController::onQuitMenuItemClick)); };
    auto openItem = [&] {
        return item(menu_tags::app, "Open " + product, action(&MenuBarMenuController::onHavenwayAppMenuItemClick));
    };

    auto makeDefault = [&](const char* name) {
        auto m = std::make_shared<MenuModel>(name);
        m->add(openItem());
        m->add(item(menu_tags::signIn, "Sign In", action(&MenuBarMenuController::onSignInItemClick)));
        m->addSeparator();
        m->add(quitItem());
        return m;
    };
    auto makeNoInternet = [&](const char* name) {
        auto m = std::make_shared<MenuModel>(name);
        m->add(item(menu_tags::noInternet, "No internet connection", nullptr, false));
        m->addSeparator();
        m->add(openItem());
        m->add(item(menu_tags::signOut, "Sign Out", action(&MenuBarMenuController::onSignOutItemClick)));
        m->addSeparator();
        m->add(quitItem());
        return m;
    };
    auto makeFull = [&](const char* name, bool dock) {
        Side& s = side(dock);
        s.menu = std::make_shared<MenuModel>(name);
        if (!dock) {
            s.appItem = s.menu->add(openItem());
            s.appItem->visible = false;
            s.menu->addSeparator();
        }
        s.locationSubMenu = std::make_shared<MenuModel>(std::string(name) + ".locations");
        MenuItemModel location = item(menu_tags::location, LocaleData::menu_bar_menu_locations_item_label(), nullptr);
        location.submenu = s.locationSubMenu;
        s.locationItem = s.menu->add(std::move(location));
        s.protocolItem = s.menu->add(item(menu_tags::protocol, LocaleData::menu_bar_menu_protocol_label(), nullptr, false));
        s.ipItem = s.menu->add(item(menu_tags::ip, LocaleData::menu_bar_menu_IP_address_label(), nullptr, false));
        s.statusItem = s.menu->add(item(menu_tags::status, LocaleData::menu_bar_menu_status_label(), nullptr, false));
        s.connectItem = s.menu->add(item(menu_tags::connect, "Connect", action(&MenuBarMenuController::onConnectMenuItemClick)));
        s.menu->addSeparator();
        s.menu->add(item(menu_tags::statusBarOnly, "Status-bar only",
                         action(&MenuBarMenuController::onStatusBarOnlyMenuItemClick)));
        s.menu->add(item(menu_tags::signOut, "Sign Out", action(&MenuBarMenuController::onSignOutItemClick)));
        s.menu->addSeparator();
        s.menu->add(quitItem());
        return s.menu;
    };
    menus_.default_menuBarMenu = makeDefault("default_menuBarMenu");
    menus_.noInternetConnection_menu = makeNoInternet("noInternetConnection_menu");
    menus_.menuBarMenu = makeFull("menuBarMenu", false);
    menus_.default_DockMenuBarMenu = makeDefault("default_DockMenuBarMenu");
    menus_.noInternetConnection_DockMenu = makeNoInternet("noInternetConnection_DockMenu");
    menus_.dockMenu = makeFull("dockMenu", true);
}

void MenuBarMenuController::prepareAboutMenu() {
    // The about line lives in the main window's profile menu here.
}

void MenuBarMenuController::prepareMenu() {
    if (!locationsListModel) {
        log::warning(kLog, "prepareMenu without a locations list; menus left as they are");
        return;
    }
    registerConnectionDetailsCallbacks();
    observeFavorites();
    createLocationsList(false);
    createLocationsList(true);
    const auto& list = locationsListModel->listWithOutGroups();
    updateLocationItemTitle(list.empty() ? nullptr : list.front());
    // The pane reports a status only when it changes: until the first
    // connection the line would otherwise read "Status: " alone.
    using L = LocaleData;
    const ConnectionStates state = model_.currentConnectionState();
    onConnectionStatusUpdatedCallback(state == ConnectionStates::connected    ? L::connection_status_connected_label()
                                      : state == ConnectionStates::connecting ? L::connection_status_connecting_label()
                                                                              : L::connection_status_disconnected_label());
    setIPLineShown(state != ConnectionStates::disconnected);
    onVPNProtocolUpdatedCallback(model_.vpnProtocolReadable);
    commands_.clearAppModeChangeNotifications();
    std::weak_ptr<bool> alive = alive_;
    commands_.addAppModeChangeNotification([this, alive] {
        if (!alive.expired()) determineToShowAppLaunchItemOrNot();
    });
    determineToShowAppLaunchItemOrNot();
}

void MenuBarMenuController::determineToShowAppLaunchItemOrNot() {
    if (model_.isAppInUserAgentMode()) showAppLaunchItem();
    else hideAppLaunchItem();
}

void MenuBarMenuController::setAppLaunchItemHidden(bool hidden) {
    Side& s = *statusBar_;
    if (s.appItem->visible == !hidden) return;
    s.appItem->visible = !hidden;
    s.menu->changed(s.appItem.get());
}

void MenuBarMenuController::createLocationsList(bool dock) {
    Side& s = side(dock);
    ++s.listGeneration;
    s.itemsToModels.emplace();
    s.locationSubMenu->removeAllItems();
    const bool locked = model_.vpnSettingsChangingDisabled();

    auto makeItem = [&](std::string title) {
        MenuItemModel i;
        i.title = std::move(title);
        i.enabled = !locked;
        i.checkable = true;
        return s.locationSubMenu->add(std::move(i));
    };
    auto bind = [this, dock](const MenuItemPtr& item) {
        const MenuItemModel* sender = item.get();
        std::weak_ptr<bool> alive = alive_;
        item->action = [this, alive, dock, sender] {
            if (alive.expired()) return;
            if (dock) onLocationItemSelectedInDockMenu(sender);
            else onLocationItemSelectedInStatusBar(sender);
        };
    };

    MenuItemPtr automatic = makeItem(LocaleData::locations_list_automatic_location_label());
    automatic->imageName = kAutomaticImage;
    bind(automatic);
    if (model_.currentAutomaticLocation) s.itemsToModels->emplace_back(automatic.get(), model_.currentAutomaticLocation);

    if (locationsListModel) {
        for (const auto& location : menuLocations()) {
            MenuItemPtr item = makeItem(location->name);
            bind(item);
            s.itemsToModels->emplace_back(item.get(), location);
            setItemFlagImage(item, *location, s.locationSubMenu, s.listGeneration, &Side::listGeneration, dock);
        }
        if (shortensMenu()) {
            s.locationSubMenu->addSeparator();
            MenuItemModel all;
            all.title = LocaleData::menu_bar_menu_all_locations_item_label();
            std::weak_ptr<bool> alive = alive_;
            all.action = [this, alive] {
                if (!alive.expired()) commands_.openLocationsWindow();
            };
            s.locationSubMenu->add(std::move(all));
        }
    }
    s.locationSubMenu->changed();
}

// A menu of thousands of lines covers the screen and takes long to build:
// past a few dozen, the submenu holds the favourites, the recommended and
// the chosen location, each bounded, and the Locations window the rest.
std::vector<LocationsListItemPtr> MenuBarMenuController::menuLocations() const {
    if (!shortensMenu()) return locationsListModel->listWithOutGroups();
    // From the whole list: a search in the Locations window filters the groups.
    std::vector<LocationsListItemPtr> shown;
    std::size_t favorites = 0, recommended = 0;
    for (const auto& location : locationsListModel->items()) {
        if (location->isFavorite ? favorites++ < kLocationsPerGroupInMenu
                                 : location->isRecommended && recommended++ < kLocationsPerGroupInMenu)
            shown.push_back(location);
    }
    std::stable_partition(shown.begin(), shown.end(), [](const auto& l) { return l->isFavorite; });
    auto chosen = chosen_.lock();
    if (chosen && std::find(shown.begin(), shown.end(), chosen) == shown.end()) shown.push_back(chosen);
    return shown;
}

void MenuBarMenuController::observeFavorites() {
    if (favoritesObserved_.lock() == locationsListModel) return;
    favoritesObserved_ = locationsListModel;
    std::weak_ptr<bool> alive = alive_;
    std::weak_ptr<LocationsListModel> list = locationsListModel;
    locationsListModel->addFavoritesObserver([this, alive, list] {
        // A list this controller no longer shows says nothing of its menus.
        if (!alive.expired() && !list.expired() && list.lock() == locationsListModel) onFavoritesChanged();
    });
}

void MenuBarMenuController::onFavoritesChanged() {
    if (favoritesRebuildPending_) return;
    favoritesRebuildPending_ = true;
    std::weak_ptr<bool> alive = alive_;
    // After the window's own reload of the list: the submenu reads its order.
    queue_.post([this, alive] {
        if (alive.expired()) return;
        favoritesRebuildPending_ = false;
        rebuildKeepingChecks();
    });
}

void MenuBarMenuController::rebuildKeepingChecks() {
    for (bool dock : {false, true}) {
        Side& s = side(dock);
        if (!s.itemsToModels) continue;
        LocationsListItemPtr checked;
        for (const auto& [item, location] : *s.itemsToModels) {
            for (const auto& i : s.locationSubMenu->items())
                if (i.get() == item && i->checked) checked = location;
        }
        createLocationsList(dock);
        if (!checked) continue;
        for (const auto& [item, location] : *s.itemsToModels)
            if (location == checked) selectItem(dock, item);
    }
}

bool MenuBarMenuController::shortensMenu() const {
    return locationsListModel && locationsListModel->items().size() > kWholeListInMenuUpTo;
}

void MenuBarMenuController::setItemFlagImage(const MenuItemPtr& item, const LocationsListItemModel& location,
                                             const MenuPtr& menu, std::uint64_t generation,
                                             std::uint64_t Side::*counter, bool dock) {
    if (!location.flag || !loadFlag_) return;
    std::weak_ptr<bool> alive = alive_;
    std::weak_ptr<MenuItemModel> weakItem = item;
    std::weak_ptr<MenuModel> weakMenu = menu;
    loadFlag_(location.flag, [this, alive, weakItem, weakMenu, generation, counter, dock](ImagePtr image) {
        if (alive.expired() || !image) return;
        auto target = weakItem.lock();
        auto owner = weakMenu.lock();
        // Rebuilt, or the line shows another location by now.
        if (!target || !owner || side(dock).*counter != generation) return;
        target->image = std::move(image);
        target->imageName.clear();
        owner->changed(target.get());
    });
}

void MenuBarMenuController::updateLocationItemTitle(const std::shared_ptr<LocationsListItemModel>& item) {
    if (item) updateLocationLine(*item);
}

void MenuBarMenuController::updateLocationLine(const LocationsListItemModel& location) {
    const LocationsListItemModel* item = &location;
    const std::string label = LocaleData::menu_bar_menu_locations_item_label() + " ";
    for (bool dock : {false, true}) {
        Side& s = side(dock);
        ++s.lineGeneration;
        if (item->isAutomaticLocationItem) {
            s.locationItem->title = label + LocaleData::locations_list_automatic_location_label();
            s.locationItem->image = nullptr;
            s.locationItem->imageName = kAutomaticImage;
        } else {
            s.locationItem->title = label + item->name;
            setItemFlagImage(s.locationItem, *item, s.menu, s.lineGeneration, &Side::lineGeneration, dock);
        }
        s.menu->changed(s.locationItem.get());
    }
}

void MenuBarMenuController::setAllLocationItemsEnabled(bool enabled) {
    for (bool dock : {false, true}) {
        Side& s = side(dock);
        for (const auto& i : s.locationSubMenu->items()) i->enabled = enabled;
        s.locationSubMenu->changed();
    }
}

void MenuBarMenuController::registerConnectionDetailsCallbacks() {
    std::weak_ptr<bool> alive = alive_;
    auto guard = [alive, this](auto method) {
        return [alive, this, method](const auto& value) {
            if (!alive.expired()) (this->*method)(value);
        };
    };
    connectionDetailsCallbacks.onIPaddressUpdatedCallback = guard(&MenuBarMenuController::onIPaddressUpdatedCallback);
    connectionDetailsCallbacks.onConnectionStatusUpdatedCallback =
        guard(&MenuBarMenuController::onConnectionStatusUpdatedCallback);
    connectionDetailsCallbacks.onConnectButtonStateChangedCallback =
        guard(&MenuBarMenuController::onConnectButtonStateChangedCallback);
    connectionDetailsCallbacks.onChosenLocationChangedCallback =
        guard(&MenuBarMenuController::onChosenLocationChangedCallback);
    connectionDetailsCallbacks.onVPNProtocolUpdatedCallback = guard(&MenuBarMenuController::onVPNProtocolUpdatedCallback);
    // The state object never drops an observer, and every sign-in prepares
    // the menus again: one pair per controller.
    if (stateObserversAdded_) return;
    stateObserversAdded_ = true;
    model_.addVPNProtocolUpdatedObserver(guard(&MenuBarMenuController::onVPNProtocolUpdatedCallback));
    model_.addVPNSettingsChangingDisabledObserver(guard(&MenuBarMenuController::onVPNSettingsChangingDisabledHandler));
}

void MenuBarMenuController::setTwinTitles(const MenuItemPtr& bar, const MenuItemPtr& dock, const std::string& title) {
    bar->title = title;
    statusBar_->menu->changed(bar.get());
    dock->title = bar->title;
    dockSide_->menu->changed(dock.get());
}

void MenuBarMenuController::onIPaddressUpdatedCallback(const std::string& address) {
    log::info(kLog, "IP address updated: " + address);
    setTwinTitles(statusBar_->ipItem, dockSide_->ipItem, LocaleData::menu_bar_menu_IP_address_label() + address);
}

// Disconnected, the pane leaves its refreshing text behind and looks up no
// address: the line would stay stale until the next connection.
void MenuBarMenuController::setIPLineShown(bool shown) {
    for (bool dock : {false, true}) {
        Side& s = side(dock);
        if (s.ipItem->visible == shown) continue;
        s.ipItem->visible = shown;
        s.menu->changed(s.ipItem.get());
    }
}

void MenuBarMenuController::onConnectionStatusUpdatedCallback(const std::string& status) {
    log::info(kLog, "Connection status updated: " + status);
    setTwinTitles(statusBar_->statusItem, dockSide_->statusItem, LocaleData::menu_bar_menu_status_label() + status);
}

void MenuBarMenuController::onVPNProtocolUpdatedCallback(const std::string& protocol) {
    // The stored form of strongSwan's IKEv2 ends in a space that only tells it apart.
    const auto end = protocol.find_last_not_of(' ');
    setTwinTitles(statusBar_->protocolItem, dockSide_->protocolItem,
                  LocaleData::menu_bar_menu_protocol_label() + protocol.substr(0, end == std::string::npos ? 0 : end + 1));
}

std::string MenuBarMenuController::capitalized(const std::string& text) {
    std::string out = text;
    bool wordStart = true;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isspace(u)) {
            wordStart = true;
            continue;
        }
        c = static_cast<char>(wordStart ? std::toupper(u) : std::tolower(u));
        wordStart = false;
    }
    return out;
}

void MenuBarMenuController::onConnectButtonStateChangedCallback(const std::string& state) {
    log::info(kLog, "Connect button state: " + state);
    const std::string& shown = state == LocaleData::connect_button_status_connecting_label()
                                   ? LocaleData::connect_button_status_disconnect_label()
                                   : state;
    setTwinTitles(statusBar_->connectItem, dockSide_->connectItem, capitalized(shown));
    setIPLineShown(state != LocaleData::connect_button_status_connect_label());
}

void MenuBarMenuController::selectItem(bool dock, const MenuItemModel* item) {
    Side& s = side(dock);
    // Only the lines whose mark moves are redrawn.
    for (const auto& i : s.locationSubMenu->items()) {
        const bool checked = i.get() == item;
        if (i->checked == checked) continue;
        i->checked = checked;
        s.locationSubMenu->changed(i.get());
    }
}

void MenuBarMenuController::onChosenLocationChangedCallback(const LocationsListItemModel& location) {
    chosen_.reset();
    if (locationsListModel && !location.isAutomaticLocationItem) {
        for (const auto& l : locationsListModel->items())
            if (l.get() == &location) chosen_ = l;
    }
    for (bool dock : {false, true}) {
        Side& s = side(dock);
        if (!s.itemsToModels) continue;
        auto find = [&] {
            const MenuItemModel* found = nullptr;
            for (const auto& [item, model] : *s.itemsToModels) {
                if (model.get() == &location) found = item;
            }
            return found;
        };
        const MenuItemModel* found = find();
        // A shortened submenu gains the chosen location when it lacks it.
        if (!found && !chosen_.expired() && shortensMenu()) {
            createLocationsList(dock);
            found = find();
        }
        if (found) selectItem(dock, found);
    }
    updateLocationLine(location);
}

void MenuBarMenuController::onVPNSettingsChangingDisabledHandler(bool disabled) {
    log::info(kLog, "onVPNSettingsChangingDisabledHandler executed");
    if (disabled) disabledAllLocationItems();
    else enableAllLocationItems();
}

void MenuBarMenuController::onHavenwayAppMenuItemClick() {
    log::info(kLog, "onHavenwayAppMenuItemClick");
    commands_.changeAppToBeNormalApp();
}

void MenuBarMenuController::onStatusBarOnlyMenuItemClick() {
    log::info(kLog, "onStatusBarOnlyMenuItemClick");
    commands_.changeAppToBeUserAgent();
}

void MenuBarMenuController::onConnectMenuItemClick() {
    log::info(kLog, "onConnectMenuItemClick");
    commands_.performConnectCommand();
}

void MenuBarMenuController::onLocationItemSelectedInStatusBar(const MenuItemModel* sender) {
    log::info(kLog, "onLocationItemSelectedInStatusBar");
    onLocationItemSelected(false, sender);
}

void MenuBarMenuController::onLocationItemSelectedInDockMenu(const MenuItemModel* sender) {
    log::info(kLog, "onLocationItemSelectedInDockMenu");
    onLocationItemSelected(true, sender);
}

void MenuBarMenuController::onLocationItemSelected(bool dock, const MenuItemModel* sender) {
    if (!sender) return;
    selectItem(dock, sender);
    Side& s = side(dock);
    if (!s.itemsToModels) return;
    for (const auto& [item, location] : *s.itemsToModels) {
        if (item == sender) {
            onLocationItemSelectedProcessing(location);
            return;
        }
    }
}

void MenuBarMenuController::onLocationItemSelectedProcessing(const std::shared_ptr<LocationsListItemModel>& location) {
    updateLocationItemTitle(location);
    model_.setUseAutomaticLocation(location->isAutomaticLocationItem);
    commands_.performSelectLocationCommand(location);
    commands_.sendAnalyticsEvent(AnalyticsEvent::VPN_LOCATION_CHANGE_EVENT,
                                 std::map<std::string, std::string>{{AnalyticsEvent::VPN_LOCATION_CHANGE_EVENT_PARAMETER_NAME, location->name}});
}

void MenuBarMenuController::onSignInItemClick() { commands_.performSignInCommand(); }
void MenuBarMenuController::onSignOutItemClick() { commands_.performLogout(); }
void MenuBarMenuController::onQuitMenuItemClick() { commands_.quitApplicationRequested(); }

}  // namespace hw
