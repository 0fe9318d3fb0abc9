#pragma once
#include <QImage>
#include <array>

#include "view/kit_window.h"
#include "windows/main/main_window_view.h"

class QAbstractButton;
class QMenu;
class QAction;

namespace hw {

class ElidedLabel;
class FlagLoadingRing;
class LocationsSearchFieldMain;
class LocationsMainViewContainer;
class LocationsTableQtModel;
class LocationsTableWidget;
class MainViewFlagImage;
class MainViewTopBar;
class NoInternetConnectionOverlayView;
class ProfileMenuPopover;
class RemoteImageLoader;
class SmartWidgetView;
class MainViewMapView;

// The main window: top bar with its buttons, the locations column (search
// field and table), the map with the chosen location's flag, the details
// pane's place and the information tile. It only draws and forwards.
class MainWindowWidget : public KitWindow, public MainWindowView {
    Q_OBJECT
public:
    static constexpr int kWidth = 820;
    static constexpr int kHeight = 560;
    static constexpr int kTopBarHeight = 48;
    static constexpr int kLocationsWidth = 300;

    explicit MainWindowWidget(RemoteImageLoader& images, QWidget* parent = nullptr);
    ~MainWindowWidget() override;

    // MainWindowView.
    void setEvents(MainWindowViewEvents* events) override { events_ = events; }
    void bindTable(LocationsTableViewModel& viewModel) override;
    void scrollRowToVisible(int row) override;
    void setTableScrollingDisabled(bool disabled) override;
    void setSearchFieldHidden(bool hidden) override;
    void setMapImage(const ImagePtr& image) override;
    Size mapViewSize() const override;
    void placeFlag(const ImagePtr& flag, const FlagPlacement& placement) override;
    void animateFlagAppearing() override;
    void animateFlagDisappearing() override;
    void setFlagLoadingIndicatorSpinning(bool spinning) override;
    void setFlagClickHandler(std::function<void()> handler) override;
    void setSmartWidgetLoading(bool loading) override;
    void setSmartWidgetIcon(const ImagePtr& icon) override;
    std::string smartWidgetTitle() const override;
    void setSmartWidgetTitle(const std::string& title) override;
    void setSmartWidgetSubtitle(const std::string& firstLine, const std::string& secondLine) override;
    void setSmartWidgetLinkText(const std::string& text) override;
    void fadeSmartWidget(SmartWidgetElement element, bool in, double seconds, std::function<void()> done) override;
    void setSmartWidgetClickHandler(std::function<void()> handler) override;
    void showProfilePopover(const std::vector<ProfileMenuTableItemModel>& rows, double height) override;
    void closeProfilePopover() override;
    void setProfileMenuRowBackgrounds(const std::vector<std::string>& colours) override;
    void setProfilePopUpMenuIcons(const std::array<std::string, 4>& iconNames) override;
    void setNoInternetOverlayHidden(bool hidden) override;
    void refreshHandCursors() override;

    // Where the details pane puts its views.
    QWidget* detailsContainer() const { return detailsContainer_; }
    // Parts the tests and shots reach.
    LocationsTableWidget* table() const { return table_; }
    LocationsTableQtModel* tableModel() const { return tableModel_; }
    LocationsSearchFieldMain* searchField() const { return searchField_; }
    MainViewFlagImage* flag() const { return flag_; }
    FlagLoadingRing* flagRing() const { return ring_; }
    SmartWidgetView* smartWidget() const { return smartWidget_; }
    QAbstractButton* profileButton() const { return profileButton_; }
    QAbstractButton* settingsButton() const { return settingsButton_; }
    QAbstractButton* locationsButton() const { return locationsButton_; }
    ProfileMenuPopover* profilePopover() const { return popover_; }
    QMenu* profilePopUpMenu() const { return popUpMenu_; }
    QWidget* mapView() const;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutContent();
    QWidget* fadeTarget(SmartWidgetElement element) const;

    RemoteImageLoader& images_;
    MainWindowViewEvents* events_ = nullptr;
    MainViewTopBar* topBar_;
    ElidedLabel* titleLabel_;
    QAbstractButton* locationsButton_;
    QAbstractButton* settingsButton_;
    QAbstractButton* profileButton_;
    LocationsMainViewContainer* locationsColumn_;
    LocationsSearchFieldMain* searchField_;
    LocationsTableWidget* table_;
    LocationsTableQtModel* tableModel_ = nullptr;
    MainViewMapView* map_;
    QWidget* detailsContainer_;
    MainViewFlagImage* flag_;
    FlagLoadingRing* ring_;
    SmartWidgetView* smartWidget_;
    NoInternetConnectionOverlayView* overlay_;
    ProfileMenuPopover* popover_;
    QMenu* popUpMenu_;
    std::array<QAction*, 4> popUpActions_{};
};

}  // namespace hw
