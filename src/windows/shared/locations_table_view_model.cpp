#include "windows/shared/locations_table_view_model.h"

#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
constexpr char kLog[] = "LocationsTable";
const std::vector<int> kNoRows;
}  // namespace

std::string LocationsTableViewModel::flagKey(const ParseFile& file) {
    auto url = file.url();
    return url.empty() ? file.name() : url;
}

void LocationsTableViewModel::reload(std::shared_ptr<LocationsListModel> list) {
    list_ = std::move(list);
    reload();
}

void LocationsTableViewModel::reload() {
    reloading_ = true;
    if (onWillReset) onWillReset();
    copyRows(ownRows());
    if (onDidReset) onDidReset();
    reloading_ = false;
}

template <typename Read>
auto LocationsTableViewModel::withOwnSearch(Read read) const {
    // Both windows read one list: this table's search filters only what it
    // reads, and the list is left as the other readers had it.
    const std::string shared = list_->searchString();
    if (shared == searchText_) return read(*list_);
    list_->applySearchString(searchText_);
    auto result = read(*list_);
    list_->applySearchString(shared);
    return result;
}

std::vector<LocationsListItemPtr> LocationsTableViewModel::ownRows() const {
    if (!list_) return {};
    return withOwnSearch([](const LocationsListModel& l) { return l.listWithGroups(); });
}

bool LocationsTableViewModel::containsOnlyFavorites() const {
    return list_ && withOwnSearch([](const LocationsListModel& l) { return l.containsOnlyFavorites(); });
}

void LocationsTableViewModel::copyRows(std::vector<LocationsListItemPtr> rows) {
    rows_ = std::move(rows);
    rowOf_.clear();
    rowsByFlag_.clear();
    if (list_) {
        rowOf_.reserve(rows_.size());
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            const int row = static_cast<int>(i) + 1;
            const auto& item = rows_[i];
            rowOf_.emplace(item.get(), row);  // first occurrence wins
            if (item->flag && !item->isGroupItem) rowsByFlag_[flagKey(*item->flag)].push_back(row);
        }
    }
    if (model_.useAutomaticLocation() && list_) previouslySelectedRow = -1;
    paintedSelection_ = selectedRow();
}

std::optional<int> LocationsTableViewModel::reloadMovingRow(int fromRow) {
    auto fresh = ownRows();
    const auto from = static_cast<std::size_t>(fromRow - 1);
    std::optional<std::size_t> to;
    if (onWillMoveRow && fromRow >= 1 && from < rows_.size() && fresh.size() == rows_.size()) {
        auto rest = rows_;
        rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(from));
        for (std::size_t i = 0; i < fresh.size() && !to; ++i) {
            if (fresh[i] != rows_[from] || i == from) continue;
            auto without = fresh;
            without.erase(without.begin() + static_cast<std::ptrdiff_t>(i));
            if (without == rest) to = i;
        }
    }
    if (!to) {
        reload();
        return std::nullopt;
    }
    const int toRow = static_cast<int>(*to) + 1;
    reloading_ = true;
    // Qt counts the destination before the move takes the row out.
    onWillMoveRow(fromRow, toRow > fromRow ? toRow + 1 : toRow);
    copyRows(std::move(fresh));
    if (onDidMoveRow) onDidMoveRow();
    reloading_ = false;
    return toRow;
}

LocationsTableViewModel::RowKind LocationsTableViewModel::kindOfRow(int row) const {
    if (row == 0) return RowKind::automatic;
    auto item = itemAtRow(row);
    return item && item->isGroupItem ? RowKind::group : RowKind::location;
}

LocationsListItemPtr LocationsTableViewModel::itemAtRow(int row) const {
    if (row < 1 || row > static_cast<int>(rows_.size())) return nullptr;
    return rows_[static_cast<std::size_t>(row - 1)];
}

bool LocationsTableViewModel::isGroupRow(int row) const {
    auto item = itemAtRow(row);
    return item && item->isGroupItem;
}

double LocationsTableViewModel::heightOfRow(int row) const { return isGroupRow(row) ? kGroupRowHeight : kRowHeight; }

std::string LocationsTableViewModel::titleOfRow(int row) const {
    if (row == 0) return LocaleData::locations_list_automatic_location_label();
    auto item = itemAtRow(row);
    if (!item) return {};
    return item->isGroupItem ? item->name : item->locationName();
}

bool LocationsTableViewModel::isSelectedRow(int row) const {
    if (row == 0) return model_.useAutomaticLocation();
    auto item = itemAtRow(row);
    return item && !item->isGroupItem && item == model_.currentLocation();
}

const char* LocationsTableViewModel::backgroundOfRow(int row) const {
    if (isGroupRow(row)) return NORMAL_LOCATIONS_VIEW_GROUP_ITEM_BACKGROUND;
    return isSelectedRow(row) ? SELECTED_LOCATIONS_VIEW_ITEM_BACKGROUND : NORMAL_LOCATIONS_VIEW_ITEM_BACKGROUND;
}

std::optional<int> LocationsTableViewModel::rowOfItem(const LocationsListItemModel* item) const {
    auto it = rowOf_.find(item);
    if (it == rowOf_.end()) return std::nullopt;
    return it->second;
}

std::optional<int> LocationsTableViewModel::selectedRow() const {
    if (!list_) return std::nullopt;
    if (model_.useAutomaticLocation()) return 0;
    const auto& current = model_.currentLocation();
    return current ? rowOfItem(current.get()) : std::nullopt;
}

const std::vector<int>& LocationsTableViewModel::rowsShowingFlag(const std::string& fileKey) const {
    auto it = rowsByFlag_.find(fileKey);
    return it == rowsByFlag_.end() ? kNoRows : it->second;
}

std::optional<LocationsTableViewModel::Choice> LocationsTableViewModel::shouldSelectRow(int row) {
    if (model_.vpnSettingsChangingDisabled() || reloading_ || !list_) return std::nullopt;
    if (logsGate) log::debug(kLog, "shouldSelectRow " + std::to_string(row));
    Choice choice;
    if (row == 0) {
        // Until the backend has named the automatic location there is nothing to choose.
        choice.item = model_.currentAutomaticLocation;
        choice.automatic = true;
        choice.analyticsValue = kAutomaticAnalyticsValue;
    } else {
        choice.item = itemAtRow(row);
        if (choice.item) choice.analyticsValue = choice.item->name;
    }
    if (!choice.item || choice.item->isGroupItem) return std::nullopt;
    const auto& current = model_.currentLocation();
    choice.changesLocation = !(current && current == choice.item);
    previouslySelectedRow = row == 0 ? -1 : row;
    return choice;
}

void LocationsTableViewModel::selectionChanged() {
    const auto now = selectedRow();
    if (now == paintedSelection_) return;
    const auto before = paintedSelection_;
    paintedSelection_ = now;
    if (!onRowChanged) return;
    if (before) onRowChanged(*before);
    if (now) onRowChanged(*now);
}

LocationsListItemPtr LocationsTableViewModel::favoriteItemAtRow(int row) const {
    if (model_.vpnSettingsChangingDisabled()) return nullptr;
    auto item = itemAtRow(row);
    return item && !item->isGroupItem ? item : nullptr;
}

bool LocationsTableViewModel::doubleClickConnects(int row) const {
    if (row < 0 || row >= rowCount()) return false;
    return !isGroupRow(row);
}

bool LocationsTableViewModel::applySearch(const std::string& text) {
    if (!list_) return false;
    const bool changed = text != searchText_;
    searchText_ = text;
    reload();
    return changed;
}

std::optional<int> LocationsTableViewModel::nextSelectableRow(int from, int step) const {
    if (step == 0) return std::nullopt;
    for (int row = from + step; row >= 0 && row < rowCount(); row += step) {
        if (!isGroupRow(row)) return row;
    }
    return std::nullopt;
}

}  // namespace hw
