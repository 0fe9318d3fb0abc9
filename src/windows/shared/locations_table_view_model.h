#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/application_model.h"
#include "services/locations_list_model.h"

namespace hw {

// The rows of a locations table (main window and locations window): row 0
// is the Automatic row, row r >= 1 the entry r - 1 of the list's grouped
// rows. Both windows read one list, so each table copies the grouped rows at
// its own reload and serves rows only from that copy. Plain C++; main thread only.
class LocationsTableViewModel {
public:
    enum class RowKind { automatic, group, location };

    static constexpr double kRowHeight = 50.0;
    static constexpr double kGroupRowHeight = 25.0;
    static constexpr char NORMAL_LOCATIONS_VIEW_ITEM_BACKGROUND[] = "#373a3d";
    static constexpr char NORMAL_LOCATIONS_VIEW_GROUP_ITEM_BACKGROUND[] = "#292b2d";
    static constexpr char SELECTED_LOCATIONS_VIEW_ITEM_BACKGROUND[] = "#4b4e51";
    static constexpr char kAutomaticAnalyticsValue[] = "Automatic";

    explicit LocationsTableViewModel(ApplicationModel& model) : model_(model) {}

    // A model reset: the Qt model brackets it with these.
    std::function<void()> onWillReset;
    std::function<void()> onDidReset;
    // Rows whose look changed (selection, star, flag).
    std::function<void(int row)> onRowChanged;
    // Every row's look changed (the stars were locked or unlocked).
    std::function<void()> onAllRowsChanged;

    // Takes a new list (or none) and copies its rows.
    void reload(std::shared_ptr<LocationsListModel> list);
    // Copies the current list's rows again. The reload guard is up meanwhile.
    void reload();
    const std::shared_ptr<LocationsListModel>& list() const { return list_; }

    int rowCount() const { return list_ ? static_cast<int>(rows_.size()) + 1 : 0; }
    RowKind kindOfRow(int row) const;
    // Nothing for row 0 and outside the rows.
    LocationsListItemPtr itemAtRow(int row) const;
    bool isGroupRow(int row) const;
    double heightOfRow(int row) const;
    // "Automatic", a group's name or a location's name.
    std::string titleOfRow(int row) const;
    bool isSelectedRow(int row) const;
    // A "#RRGGBB" colour.
    const char* backgroundOfRow(int row) const;
    // Stars take clicks only while the settings may change.
    bool starsEnabled() const { return !model_.vpnSettingsChangingDisabled(); }
    void starsEnabledChanged() {
        if (onAllRowsChanged && rowCount() > 0) onAllRowsChanged();
    }
    // Identity of the row object in this table's copy.
    std::optional<int> rowOfItem(const LocationsListItemModel* item) const;
    std::optional<int> selectedRow() const;
    // Rows whose flag is this file (by address), for a flag that has arrived.
    const std::vector<int>& rowsShowingFlag(const std::string& fileKey) const;

    // The selection gate. A refused row changes nothing; an accepted one is
    // recorded as the previous selection, and the caller applies it.
    struct Choice {
        LocationsListItemPtr item;
        bool automatic = false;
        // The choice differs from the current location: worth an analytics event.
        bool changesLocation = false;
        std::string analyticsValue;
    };
    std::optional<Choice> shouldSelectRow(int row);
    // Repaints the rows whose selected look changed since the last call.
    void selectionChanged();
    std::optional<int> previouslySelectedRow;
    bool tableReloadingInprogress() const { return reloading_; }

    // ---- Locations window ----
    // Nothing is selectable until the first reload.
    void holdSelectionUntilFirstReload() { reloading_ = true; }
    // The gate's console line; the locations window writes none.
    bool logsGate = true;
    // A row moved (from, to: rows before the move, as beginMoveRows counts them).
    std::function<void(int from, int to)> onWillMoveRow;
    std::function<void()> onDidMoveRow;
    // Copies the list's rows again; when they differ from the copy only by the
    // row at fromRow having moved, reports a move and answers its new row,
    // otherwise a reset.
    std::optional<int> reloadMovingRow(int fromRow);
    // ---- end locations window ----

    // The location whose star was clicked; nothing while locked or off a location row.
    LocationsListItemPtr favoriteItemAtRow(int row) const;
    // Whether a double click on the row connects (clicked row -1: outside).
    bool doubleClickConnects(int row) const;
    // This table's own filter: reloads, and answers false when the text was
    // the one already applied.
    bool applySearch(const std::string& text);
    const std::string& searchText() const { return searchText_; }
    // The list as this table's search shows it holds favourites only.
    bool containsOnlyFavorites() const;
    // Takes the filter for the next reload.
    void setSearchText(const std::string& text) { searchText_ = text; }
    // Where a search's results begin: the header of their first group, which
    // a table scrolled far down would otherwise keep out of sight. Nothing
    // without a search or a result.
    std::optional<int> firstResultRow() const {
        return !searchText_.empty() && rowCount() > 1 ? std::optional<int>(1) : std::nullopt;
    }
    // The next row that is not a group, stepping by +1 or -1; nothing at the ends.
    std::optional<int> nextSelectableRow(int from, int step) const;

    static std::string flagKey(const ParseFile& file);

private:
    void copyRows(std::vector<LocationsListItemPtr> rows);
    std::vector<LocationsListItemPtr> ownRows() const;
    template <typename Read>
    auto withOwnSearch(Read read) const;

    ApplicationModel& model_;
    std::shared_ptr<LocationsListModel> list_;
    std::vector<LocationsListItemPtr> rows_;
    std::unordered_map<const LocationsListItemModel*, int> rowOf_;
    std::unordered_map<std::string, std::vector<int>> rowsByFlag_;
    std::optional<int> paintedSelection_;
    std::string searchText_;
    bool reloading_ = false;
};

}  // namespace hw
