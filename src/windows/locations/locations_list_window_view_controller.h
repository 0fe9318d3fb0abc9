#pragma once
#include <functional>
#include <memory>
#include <optional>

#include "connection/connection_intents.h"
#include "platform/main_queue.h"
#include "view/base_window_view_controller.h"
#include "windows/details_pane/details_pane.h"
#include "windows/locations/locations_list_window_view.h"
#include "windows/locations/locations_window.h"
#include "windows/shared/locations_table_view_model.h"

namespace hw {

// What the locations window is built on. Each reference must outlive the controller.
struct LocationsListWindowEnvironment {
    BaseControllerContext context;
    WindowView& window;
    LocationsListWindowView& view;
    MainQueue& queue;
    // The main window and its pane exist after this window: asked for on use.
    std::function<LocationsWindowMain*()> main;
    std::function<std::shared_ptr<DetailsPane>()> pane;
    // Where a client may not place its own windows (Wayland), nothing is moved.
    bool canPlaceWindows = true;
    // The connection's intents; none: a double-click connects nothing.
    std::function<ConnectionIntents*()> intents{};
};

// The locations window: the shared list beside the main window, with search
// highlighting, favourites that move their row, a lock while settings may not
// change and a tooltip about the automatic location. Plain C++ against
// LocationsListWindowView; main thread only. Held by shared_ptr: queued tasks
// reach it through a weak pointer.
class LocationsListWindowViewController final : public BaseWindowViewController,
                                                public LocationsWindow,
                                                public LocationsListWindowViewEvents,
                                                public std::enable_shared_from_this<LocationsListWindowViewController> {
public:
    // y-up offsets from the main window's origin.
    static constexpr double LOCATIONS_WINDOW_FRAME_Y_OFFSET = -21.0;
    static constexpr double kTooltipFadeInSeconds = 1.0;
    static constexpr double kTooltipFadeOutSeconds = 0.5;
    static constexpr double kScrollBackDelayMs = 100;

    // True while the window is open; the main window passes its moves on then.
    static inline bool windowOpenedFlag = false;

    explicit LocationsListWindowViewController(LocationsListWindowEnvironment environment);
    ~LocationsListWindowViewController() override;

    // LocationsWindow.
    void updateTableData(const std::shared_ptr<LocationsListModel>& model) override;
    void selectLocation(const LocationsListItemPtr& location, bool skipFlagAnimation) override;
    bool windowOpened() const override { return windowOpenedFlag; }
    void onMainWindowMoved(const WindowFrame& mainWindowFrame) override;

    // LocationsListWindowViewEvents.
    void onTableRowClicked(int row) override;
    void doubleClickOnLocationsRow(int clickedRow) override;
    void onFavoriteButtonClick(int row) override;
    void onSearchFieldChanged() override;
    void clearSearchField() override;
    void onAutomaticTooltipIcon_Click() override;
    void onTableViewScrolling() override;

    void selectLocationProcessing(const LocationsListItemPtr& location, bool skipFlagAnimation,
                                  bool automaticLocationCall);
    void handleAutomaticHeaderClick();
    void handleAutomaticHeaderTapProcessing(bool unused);
    void reloadTableData();
    void showOverlayForLocationsTable();
    void hideOverlayForLocationsTable();
    void activateTableView();
    void deactivateTableView();
    void showAutomaticInfoTooltip();
    void hideAutomaticInfoTooltip();
    void onLocationsWindowGlobalClickhandler();

    bool automaticInfoTooltipShown() const { return automaticInfoTooltipShown_; }
    bool locationSelected() const { return locationSelected_; }
    LocationsTableViewModel& tableViewModel() { return table_; }
    const std::shared_ptr<LocationsListModel>& tableViewDataObject() const { return tableViewDataObject_; }

protected:
    // A narrow window: its name alone fits the title bar, which cut
    // "Locations — Havenway" to "Locations… avenway".
    void changeWindowTitleName() override { window().setTitle("Locations"); }
    void setupAfterAwakeFromNib() override;
    void setupComponents() override;
    void setupAfterOpening() override;
    void setupBeforeClosing() override;

private:
    void later(double ms, std::function<void(LocationsListWindowViewController&)> task);
    LocationsListItemPtr paneLocation() const;
    // Selects the pane's location once, as soon as the pane has one.
    void selectPaneLocationOnce();

    LocationsListWindowEnvironment env_;
    LocationsTableViewModel table_;
    std::shared_ptr<LocationsListModel> tableViewDataObject_;
    bool locationSelected_ = false;
    bool automaticInfoTooltipShown_ = false;
    bool overlayShown_ = false;
};

}  // namespace hw
