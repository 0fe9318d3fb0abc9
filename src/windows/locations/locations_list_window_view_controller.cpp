#include "windows/locations/locations_list_window_view_controller.h"

#include "platform/log.h"
#include "windows/shared/location_choice.h"

namespace hw {

namespace {
constexpr char kLog[] = "LocationsWindow";
}

LocationsListWindowViewController::LocationsListWindowViewController(LocationsListWindowEnvironment environment)
    : BaseWindowViewController(environment.context, environment.window),
      env_(std::move(environment)),
      table_(model()) {
    table_.logsGate = false;
    table_.holdSelectionUntilFirstReload();
}

LocationsListWindowViewController::~LocationsListWindowViewController() {
    env_.view.setEvents(nullptr);
    env_.view.setTooltipMouseDownHandler(nullptr);
}

void LocationsListWindowViewController::later(double ms, std::function<void(LocationsListWindowViewController&)> task) {
    std::weak_ptr<LocationsListWindowViewController> weak = weak_from_this();
    auto run = [weak, task = std::move(task)] {
        if (auto self = weak.lock()) task(*self);
    };
    if (ms > 0) env_.queue.postAfter(ms, std::move(run));
    else env_.queue.post(std::move(run));
}

LocationsListItemPtr LocationsListWindowViewController::paneLocation() const {
    auto pane = env_.pane ? env_.pane() : nullptr;
    return pane ? pane->dataObject() : nullptr;
}

void LocationsListWindowViewController::setupAfterAwakeFromNib() {
    env_.view.setEvents(this);
    env_.view.setSearchBarPlaceholderText();
    // The details pane locks and unlocks settings; the list follows it.
    model().addVPNSettingsChangingDisabledObserver<LocationsListWindowViewController>(
        weak_from_this(), [](LocationsListWindowViewController& self, bool disabled) {
            if (disabled && !self.overlayShown_) self.showOverlayForLocationsTable();
            if (!disabled && self.overlayShown_) self.hideOverlayForLocationsTable();
        });
    selectPaneLocationOnce();
}

void LocationsListWindowViewController::selectPaneLocationOnce() {
    if (locationSelected_) return;
    // Before the pane has a location there is nothing to select yet; the next opening tries again.
    auto shown = paneLocation();
    if (!shown) return;
    selectLocation(shown, true);
    locationSelected_ = true;
}

void LocationsListWindowViewController::setupComponents() { env_.view.bindTable(table_); }

void LocationsListWindowViewController::setupAfterOpening() {
    if (auto* main = env_.main ? env_.main() : nullptr) {
        if (auto frame = main->mainWindowFrame()) onMainWindowMoved(*frame);
    }
    if (!windowOpenedFlag) {
        reloadTableData();
        // A fresh list shows the chosen row rather than its top.
        if (auto row = table_.selectedRow()) env_.view.scrollRowToVisible(*row);
    }
    windowOpenedFlag = true;
    selectPaneLocationOnce();
    if (model().vpnSettingsChangingDisabled()) showOverlayForLocationsTable();
}

void LocationsListWindowViewController::setupBeforeClosing() {
    windowOpenedFlag = false;
    if (automaticInfoTooltipShown_) hideAutomaticInfoTooltip();
}

void LocationsListWindowViewController::onMainWindowMoved(const WindowFrame& main) {
    if (!env_.canPlaceWindows || !isWindowLoaded()) return;
    auto own = window().frame();
    // Its right edge at the main window's left one, whatever its width; this
    // window's bottom 21 px above the main window's.
    own.x = main.x - own.width;
    own.y = main.y + main.height + LOCATIONS_WINDOW_FRAME_Y_OFFSET - own.height;
    // Where the screen leaves no room on the left (the main window at its
    // edge, a small screen), the list goes to the right, mirrored, rather
    // than under the main window; with room on neither side, to the wider one.
    if (const auto area = window().screenAreaAround(main)) {
        const double roomLeft = main.x - area->x;
        const double roomRight = area->x + area->width - (main.x + main.width);
        const double rightX = main.x + main.width;
        if (roomLeft < own.width && (roomRight >= own.width || roomRight > roomLeft)) own.x = rightX;
    }
    window().setFrame(own);
}

void LocationsListWindowViewController::updateTableData(const std::shared_ptr<LocationsListModel>& model) {
    tableViewDataObject_ = model;
    if (tableViewDataObject_) tableViewDataObject_->rebuildLists();
}

void LocationsListWindowViewController::selectLocation(const LocationsListItemPtr& location, bool skipFlagAnimation) {
    if (!model().useAutomaticLocation()) {
        if (!location) return;
        selectLocationProcessing(location, skipFlagAnimation, false);
        if (auto row = table_.rowOfItem(location.get())) env_.view.scrollRowToVisible(*row);
    } else {
        handleAutomaticHeaderTapProcessing(false);
    }
    table_.selectionChanged();
}

void LocationsListWindowViewController::selectLocationProcessing(const LocationsListItemPtr& location,
                                                                 bool skipFlagAnimation, bool automaticLocationCall) {
    if (auto* main = env_.main ? env_.main() : nullptr) {
        main->selectLocationProcessing(location, skipFlagAnimation, automaticLocationCall);
    }
}

void LocationsListWindowViewController::handleAutomaticHeaderClick() {
    log::debug(kLog, "Automatic cell been Clicked");
    handleAutomaticHeaderTapProcessing(false);
}

void LocationsListWindowViewController::handleAutomaticHeaderTapProcessing(bool) {
    model().setUseAutomaticLocation(true);
    if (auto automatic = model().currentAutomaticLocation) selectLocationProcessing(automatic, false, true);
    table_.selectionChanged();
}

void LocationsListWindowViewController::onTableRowClicked(int row) { applyLocationChoice(*this, table_, row); }

void LocationsListWindowViewController::doubleClickOnLocationsRow(int clickedRow) {
    if (model().vpnSettingsChangingDisabled()) return;
    log::debug(kLog, "doubleClickOnResultRow: " + std::to_string(clickedRow));
    if (!table_.doubleClickConnects(clickedRow)) return;
    if (auto* intents = env_.intents ? env_.intents() : nullptr) intents->connectOrEnd();
}

void LocationsListWindowViewController::onFavoriteButtonClick(int row) {
    auto item = table_.favoriteItemAtRow(row);
    if (!item || !tableViewDataObject_) return;
    item->toggleFavoriteFlag();
    tableViewDataObject_->rebuildLists();
    if (table_.containsOnlyFavorites()) {
        reloadTableData();
        return;
    }
    // One row move when that is all that changed, so the row visibly travels; else a reset.
    const auto moved = table_.reloadMovingRow(row);
    table_.selectionChanged();
    if (!item->isFavorite) return;
    if (auto to = moved ? moved : table_.rowOfItem(item.get())) env_.view.scrollRowToVisible(*to);
}

void LocationsListWindowViewController::reloadTableData() { table_.reload(tableViewDataObject_); }

void LocationsListWindowViewController::onSearchFieldChanged() {
    if (!tableViewDataObject_) return;
    const auto text = env_.view.searchText();
    env_.view.setTitleHighlight(text);
    if (text != table_.searchText()) {
        table_.setSearchText(text);
        reloadTableData();
        if (auto row = table_.firstResultRow()) env_.view.scrollRowToVisible(*row);
    }
    if (!text.empty()) return;
    later(kScrollBackDelayMs, [](LocationsListWindowViewController& self) {
        auto shown = self.paneLocation();
        if (!shown) return;
        if (auto row = self.table_.rowOfItem(shown.get())) self.env_.view.scrollRowToVisible(*row);
    });
}

void LocationsListWindowViewController::clearSearchField() {
    log::debug(kLog, "clearSearchField");
    env_.view.setSearchText("");
    onSearchFieldChanged();
    env_.view.clearPlaceholderText();
    env_.view.dropSearchFieldFocus();
}

void LocationsListWindowViewController::showOverlayForLocationsTable() {
    overlayShown_ = true;
    env_.view.setOverlayHidden(false);
    deactivateTableView();
    env_.view.setSearchFieldEnabled(false);
    model().setVpnSettingsChangingDisabled(true);
    table_.starsEnabledChanged();
}

void LocationsListWindowViewController::hideOverlayForLocationsTable() {
    overlayShown_ = false;
    model().setVpnSettingsChangingDisabled(false);
    env_.view.setOverlayHidden(true);
    activateTableView();
    env_.view.setSearchFieldEnabled(true);
}

void LocationsListWindowViewController::deactivateTableView() {
    reloadTableData();
    env_.view.setTableScrollingDisabled(true);
}

void LocationsListWindowViewController::activateTableView() {
    env_.view.setTableScrollingDisabled(false);
    reloadTableData();
    // Without a location in the pane there is nothing to select: the reload is all.
    if (auto shown = paneLocation()) selectLocation(shown, true);
}

void LocationsListWindowViewController::onAutomaticTooltipIcon_Click() {
    if (automaticInfoTooltipShown_) hideAutomaticInfoTooltip();
    else showAutomaticInfoTooltip();
}

void LocationsListWindowViewController::showAutomaticInfoTooltip() {
    later(0, [](LocationsListWindowViewController& self) {
        self.env_.view.fadeAutomaticInfoTooltip(true, kTooltipFadeInSeconds);
        self.automaticInfoTooltipShown_ = true;
        self.env_.view.setScrollObserved(true);
        std::weak_ptr<LocationsListWindowViewController> weak = self.weak_from_this();
        self.env_.view.setTooltipMouseDownHandler([weak] {
            if (auto s = weak.lock()) s->onLocationsWindowGlobalClickhandler();
        });
    });
}

void LocationsListWindowViewController::hideAutomaticInfoTooltip() {
    later(0, [](LocationsListWindowViewController& self) {
        self.env_.view.fadeAutomaticInfoTooltip(false, kTooltipFadeOutSeconds);
        self.automaticInfoTooltipShown_ = false;
        self.env_.view.setScrollObserved(false);
        self.env_.view.setTooltipMouseDownHandler(nullptr);
    });
}

void LocationsListWindowViewController::onLocationsWindowGlobalClickhandler() {
    log::debug(kLog, "onLocationsWindowGlobalClickhandler");
    hideAutomaticInfoTooltip();
}

void LocationsListWindowViewController::onTableViewScrolling() {
    log::debug(kLog, "onViewScrolling");
    if (automaticInfoTooltipShown_) hideAutomaticInfoTooltip();
}

}  // namespace hw
