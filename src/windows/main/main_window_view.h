#pragma once
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/image_codec.h"
#include "windows/main/profile_menu_table_view_controller.h"
#include "windows/shared/flag_placement.h"

namespace hw {

class LocationsTableViewModel;

// What the main window's view reports. The controller implements it.
class MainWindowViewEvents {
public:
    virtual ~MainWindowViewEvents() = default;
    // A click on a row, or Up/Down onto it: the selection gate decides.
    virtual void onTableRowClicked(int row) = 0;
    virtual void doubleClickOnLocationsRow(int clickedRow) = 0;
    virtual void onFavoriteButtonClick(int row) = 0;
    virtual void onSearchFieldChanged(const std::string& text) = 0;
    virtual void onProfileButtonClick() = 0;
    virtual void onProfileMenuRowClicked(int row) = 0;
    // The pop-up menu's highlighted item (0..3), nothing when none is.
    virtual void menuWillHighlightItem(std::optional<int> item) = 0;
    virtual void onProfilePopUpMenuItem(int item) = 0;
    virtual void onSettingsButtonClick() = 0;
    virtual void onLocationsButtonClick() = 0;
    // The map view got a new size.
    virtual void onMapViewResized() = 0;
    virtual void windowDidBecomeMain() = 0;
};

// The main window's content, as its controller drives it; the window itself
// is a WindowView. The Qt widget only draws and forwards; tests use a
// recording one.
class MainWindowView {
public:
    virtual ~MainWindowView() = default;
    enum class SmartWidgetElement { icon, title, subtitle, link };
    struct Size {
        double width = 0;
        double height = 0;
    };

    virtual void setEvents(MainWindowViewEvents* events) = 0;

    // The locations table reads its rows from the view-model.
    virtual void bindTable(LocationsTableViewModel& viewModel) = 0;
    virtual void scrollRowToVisible(int row) = 0;
    virtual void setTableScrollingDisabled(bool disabled) = 0;
    virtual void setSearchFieldHidden(bool hidden) = 0;

    // The map and the chosen location's flag.
    virtual void setMapImage(const ImagePtr& image) = 0;
    virtual Size mapViewSize() const = 0;
    // Shows the flag (its image may be null) centred where placed.
    virtual void placeFlag(const ImagePtr& flag, const FlagPlacement& placement) = 0;
    // The 0.2 s pop-in about the flag's centre.
    virtual void animateFlagAppearing() = 0;
    virtual void animateFlagDisappearing() = 0;
    virtual void setFlagLoadingIndicatorSpinning(bool spinning) = 0;
    virtual void setFlagClickHandler(std::function<void()> handler) = 0;

    // The information tile.
    virtual void setSmartWidgetLoading(bool loading) = 0;
    virtual void setSmartWidgetIcon(const ImagePtr& icon) = 0;
    virtual std::string smartWidgetTitle() const = 0;
    virtual void setSmartWidgetTitle(const std::string& title) = 0;
    virtual void setSmartWidgetSubtitle(const std::string& firstLine, const std::string& secondLine) = 0;
    virtual void setSmartWidgetLinkText(const std::string& text) = 0;
    // Fades one element in (showing it) or out (hiding it); done runs at the end.
    virtual void fadeSmartWidget(SmartWidgetElement element, bool in, double seconds, std::function<void()> done) = 0;
    virtual void setSmartWidgetClickHandler(std::function<void()> handler) = 0;

    // The profile button's popover and its pop-up menu.
    virtual void showProfilePopover(const std::vector<ProfileMenuTableItemModel>& rows, double height) = 0;
    virtual void closeProfilePopover() = 0;
    // One "#RRGGBB" colour per row, in row order.
    virtual void setProfileMenuRowBackgrounds(const std::vector<std::string>& colours) = 0;
    virtual void setProfilePopUpMenuIcons(const std::array<std::string, 4>& iconNames) = 0;

    virtual void setNoInternetOverlayHidden(bool hidden) = 0;
    // Re-applies the hand cursors of the window's own links and buttons.
    virtual void refreshHandCursors() = 0;
};

}  // namespace hw
