#pragma once
#include "view/kit_window.h"
#include "windows/locations/locations_list_window_view.h"

namespace hw {

class AutomaticLocationTooltipView;
class LocationRowDelegate;
class LocationsSearchFieldMain;
class LocationsTableQtModel;
class LocationsTableWidget;
class LocationsWindowSearchBarBackground;
class OverlayForLocationsTable;
class RemoteImageLoader;

// The locations window: the search field on its dark backing, the list, the
// cover that locks it and the automatic location's tooltip. It only draws
// and forwards.
class LocationsListWindowWidget : public KitWindow, public LocationsListWindowView {
    Q_OBJECT
public:
    // Wide enough for its title bar under a window manager that adds the
    // application's name and three buttons to "Locations".
    static constexpr int kWidth = 270;
    static constexpr int kHeight = 518;
    static constexpr int kSearchBarHeight = 56;

    explicit LocationsListWindowWidget(RemoteImageLoader& images, QWidget* parent = nullptr);
    ~LocationsListWindowWidget() override;

    // LocationsListWindowView.
    void setEvents(LocationsListWindowViewEvents* events) override { events_ = events; }
    void bindTable(LocationsTableViewModel& viewModel) override;
    void scrollRowToVisible(int row) override;
    void setTableScrollingDisabled(bool disabled) override;
    void setOverlayHidden(bool hidden) override;
    std::string searchText() const override;
    void setSearchText(const std::string& text) override;
    void setSearchFieldEnabled(bool enabled) override;
    void setSearchBarPlaceholderText() override;
    void clearPlaceholderText() override;
    void dropSearchFieldFocus() override;
    void setTitleHighlight(const std::string& searchText) override;
    void fadeAutomaticInfoTooltip(bool in, double seconds) override;
    void setTooltipMouseDownHandler(std::function<void()> handler) override;
    void setScrollObserved(bool observed) override { scrollObserved_ = observed; }

    LocationsSearchFieldMain& searchField() { return *searchField_; }
    LocationsTableWidget& table() { return *table_; }
    LocationsTableQtModel* tableModel() { return model_; }
    AutomaticLocationTooltipView& tooltip() { return *tooltip_; }
    OverlayForLocationsTable& overlay() { return *overlay_; }
    // The information icon of the Automatic row, in the list's viewport.
    QRect infoIconRect() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    RemoteImageLoader& images_;
    LocationsListWindowViewEvents* events_ = nullptr;
    LocationsWindowSearchBarBackground* searchBackground_;
    LocationsSearchFieldMain* searchField_;
    LocationsTableWidget* table_;
    LocationRowDelegate* delegate_;
    OverlayForLocationsTable* overlay_;
    AutomaticLocationTooltipView* tooltip_;
    LocationsTableQtModel* model_ = nullptr;
    bool scrollObserved_ = false;
};

}  // namespace hw
