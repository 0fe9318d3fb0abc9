#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/application_model_ports.h"

namespace hw {

class LocationsListItemModel;
class LocationsTableViewModel;

// What the locations window needs of the main window.
class LocationsWindowMain {
public:
    virtual ~LocationsWindowMain() = default;
    virtual const std::shared_ptr<LocationsListItemModel>& currentLocation() const = 0;
    virtual void selectLocationProcessing(const std::shared_ptr<LocationsListItemModel>& location,
                                          bool skipFlagAnimation, bool automaticLocationCall) = 0;
    // Its frame in Qt's screen coordinates; nothing before it has a window.
    virtual std::optional<WindowFrame> mainWindowFrame() = 0;
};

// What the locations window's widget forwards to its controller.
class LocationsListWindowViewEvents {
public:
    virtual ~LocationsListWindowViewEvents() = default;
    virtual void onTableRowClicked(int row) = 0;
    // Row -1: outside the rows.
    virtual void doubleClickOnLocationsRow(int clickedRow) = 0;
    virtual void onFavoriteButtonClick(int row) = 0;
    // The field's text changed, or Return was pressed in it.
    virtual void onSearchFieldChanged() = 0;
    virtual void clearSearchField() = 0;
    virtual void onAutomaticTooltipIcon_Click() = 0;
    virtual void onTableViewScrolling() = 0;
};

// The locations window's content as its controller drives it.
class LocationsListWindowView {
public:
    virtual ~LocationsListWindowView() = default;
    virtual void setEvents(LocationsListWindowViewEvents* events) = 0;
    virtual void bindTable(LocationsTableViewModel& viewModel) = 0;
    virtual void scrollRowToVisible(int row) = 0;
    virtual void setTableScrollingDisabled(bool disabled) = 0;
    virtual void setOverlayHidden(bool hidden) = 0;

    virtual std::string searchText() const = 0;
    virtual void setSearchText(const std::string& text) = 0;
    virtual void setSearchFieldEnabled(bool enabled) = 0;
    virtual void setSearchBarPlaceholderText() = 0;
    virtual void clearPlaceholderText() = 0;
    // The window gives the keyboard focus to nothing.
    virtual void dropSearchFieldFocus() = 0;
    // Titles emphasise their first match of this text; empty: plain titles.
    virtual void setTitleHighlight(const std::string& searchText) = 0;

    // The tooltip about the automatic location.
    virtual void fadeAutomaticInfoTooltip(bool in, double seconds) = 0;
    // A click on the tooltip; none: the click goes to the window.
    virtual void setTooltipMouseDownHandler(std::function<void()> handler) = 0;
    // Scrolling the list reports onTableViewScrolling while observed.
    virtual void setScrollObserved(bool observed) = 0;
};

}  // namespace hw
