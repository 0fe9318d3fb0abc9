#include "windows/shared/location_choice.h"
#include "platform/log.h"
#include "windows/main/main_window_view_controller.h"

namespace hw {

namespace {
constexpr char kLog[] = "MainWindow";
}

void MainWindowViewController::onTableRowClicked(int row) { applyLocationChoice(*this, table_, row); }

void MainWindowViewController::doubleClickOnLocationsRow(int clickedRow) {
    log::debug(kLog, "doubleClickOnResultRow: " + std::to_string(clickedRow));
    if (!table_.doubleClickConnects(clickedRow)) return;
    env_.engine.intents().connectOrEnd();
}

void MainWindowViewController::onFavoriteButtonClick(int row) {
    auto item = table_.favoriteItemAtRow(row);
    if (!item || !tableViewDataObject_) return;
    item->toggleFavoriteFlag();
    tableViewDataObject_->rebuildLists();
    reloadTableData();
    auto shown = detailsViewController_ ? detailsViewController_->dataObject() : model().currentLocation();
    if (shown) selectLocation(shown, true);
}

void MainWindowViewController::onSearchFieldChanged(const std::string& text) {
    previousSearchFieldValue_ = text;
    if (table_.applySearch(text)) {
        if (auto row = table_.firstResultRow()) env_.view.scrollRowToVisible(*row);
    }
}

void MainWindowViewController::handleAutomaticHeaderClick() {
    log::debug(kLog, "Automatic cell been Clicked");
    handleAutomaticHeaderTapProcessing(false);
}

void MainWindowViewController::handleAutomaticHeaderTapProcessing(bool) {
    model().setUseAutomaticLocation(true);
    if (auto automatic = model().currentAutomaticLocation) selectLocationProcessing(automatic, false, true);
    table_.selectionChanged();
}

void MainWindowViewController::reloadTableData() { table_.reload(); }

void MainWindowViewController::deactivateTableView() {
    reloadTableData();
    env_.view.setTableScrollingDisabled(true);
}

void MainWindowViewController::activateTableView() {
    env_.view.setTableScrollingDisabled(false);
    reloadTableData();
    auto shown = detailsViewController_ ? detailsViewController_->dataObject() : model().currentLocation();
    if (shown) selectLocation(shown, true);
}

}  // namespace hw
