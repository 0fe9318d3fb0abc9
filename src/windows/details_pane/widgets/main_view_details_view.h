#pragma once
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <map>

#include "windows/details_pane/main_view_details_area_view.h"

#include <QLabel>
class QAbstractAnimation;
class QAbstractButton;
class QPushButton;

namespace hw {

class ActivityIndicatorWithImage;
class ApplicationModel;
class AutoReconnectOverlayView;
class ChangeLocationButton;
class ConnectButton;
class ErrorNotificationsBar;
class FlagActivityIndicator;
class FooterIconView;
class FooterLinkButton;
class MainViewBottomBar;
class KitPopover;
class LocationFlagImageView;
class MainViewTopNotificationArea;
class RemoteImageLoader;
class ServerBarLinkButton;
class UpgradeAvailableNotificationsBar;

// The details pane's root view over the main window's map: the bars along
// its top, the card with the location and the connect button above the
// information tile, and the overlays. It only draws and forwards.
class MainViewDetailsView final : public QWidget, public MainViewDetailsAreaView {
    Q_OBJECT
public:
    static constexpr int kCardWidth = 360;
    static constexpr int kCardHeight = 184;
    static constexpr int kCardBottomGap = 106;  // the information tile below
    static constexpr int kErrorBarHeight = 58;
    static constexpr int kBarHeight = 40;
    static constexpr int kSlideInFrom = -60;
    static constexpr int kSlideOutTo = -50;
    static constexpr int kSlideMs = 250;
    static constexpr int kMarkSize = 16;
    static constexpr int kBottomBarHeight = 30;
    static constexpr int kGiftSize = 24;

    explicit MainViewDetailsView(RemoteImageLoader& images, QWidget* parent = nullptr);
    ~MainViewDetailsView() override;

    // The dark map drawn over the main window's light one while connected.
    void setDarkMapImage(const QImage& dark, QSize lightMapSize);
    // The dark map (may be null) and the light map's size, asked at each
    // fade-in and answered later on the main thread.
    using MapImagesAnswer = std::function<void(QImage dark, QSize lightMapSize)>;
    std::function<void(MapImagesAnswer)> mapImages;
    // The state object's two maps, as mapImages answers them.
    static std::function<void(MapImagesAnswer)> mapImagesOf(const ApplicationModel& model);

    // MainViewDetailsAreaView.
    void setEvents(MainViewDetailsAreaEvents* events) override { events_ = events; }
    void bindConnectButton(ConnectButtonModel& model) override;
    void refreshConnectButton() override;
    void setConnectToText(const std::string& text) override;
    void setLocationName(const std::string& text) override;
    void setFlagImage(const ParseFilePtr& file) override;
    void setProtocolText(const std::string& text) override;
    void setPublicIPAddressText(const std::string& text) override;
    void setConnectionTimeText(const std::string& text) override;
    void setConnectionDetailsBoxHidden(bool hidden) override;
    void setChangeProtocolLinkText(const std::string& text) override;
    void setChangeLocationEnabled(bool enabled, double changeProtocolLinkAlpha) override;
    void setConnectingXSignHidden(bool hidden) override;
    void setConnectButtonXSignPaddingLeft(double padding) override;
    void setChangeLocationInsideButton(bool hidden, double alpha) override;
    void showConnectButtonPopover(const std::string& text) override;
    void closeConnectButtonPopover() override;
    void setFlagLoadingSpinning(bool spinning) override;
    void setFlagConnectedIndicatorHidden(bool hidden) override;
    bool isAutoReconnectOverlayHidden() const override;
    void setAutoReconnectOverlay(bool hidden, const std::string& header, const std::string& subheader) override;
    void setAutoReconnectSpinning(bool spinning) override;
    void setErrorBar(const ErrorBarContent& content) override;
    void setUpdateBarText(const std::string& text, const std::string& linkText) override;
    void setTopBarStripHidden(bool hidden) override;
    void slideTopBar(PaneTopBar bar, bool in, std::function<void()> done) override;
    void setTopBarHidden(PaneTopBar bar, bool hidden) override;
    bool isTopBarHidden(PaneTopBar bar) const override;
    void setServerBarLook(const ServerBarLook& look) override;
    void setBarActivityIndicatorsSpinning(bool spinning) override;
    void setBottomBar(const std::optional<BottomBarLook>& look) override;
    void setBottomBarCollapsed(bool collapsed) override;
    void crossFadeMaps(bool dark, double seconds) override;
    void fadeAutoUpdateOverlay(bool in, double seconds, std::function<void()> done) override;
    void setAutoUpdateOverlayHidden(bool hidden) override;
    void refreshHandCursors() override;

    // Parts the tests and shots reach.
    QWidget* topBarView(PaneTopBar bar) const;
    QWidget* topStrip() const { return strip_; }
    ConnectButton* connectButton() const { return button_; }
    KitPopover* connectButtonPopover() const { return popover_; }
    QAbstractButton* changeLocationInsideOfConnectButton() const;
    QAbstractButton* changeProtocolLink() const;
    QLabel* errorUpperText() const { return errorUpper_; }
    QLabel* errorLowerText() const { return errorLower_; }
    QLabel* multiLineErrorLabel() const { return errorMulti_; }
    QPushButton* pickDifferentLocationLink() const;
    QWidget* darkMap() const { return darkMap_; }
    QWidget* autoReconnectOverlay() const;
    QWidget* autoUpdateOverlay() const { return updateOverlay_; }
    QWidget* card() const { return card_; }
    FooterIconView* footerIcon() const { return footerIcon_; }
    QWidget* bottomBar() const;
    QAbstractButton* footerLink() const;
    QAbstractButton* bottomBarCloseButton() const;
    QAbstractButton* giftButton() const;
    QAbstractButton* inviteButton() const;
    QString connectionTimeText() const { return timeValue_->text(); }
    QString connectToText() const { return connectTo_->text(); }
    QString protocolText() const { return protocolValue_->text(); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutContent();
    void layoutErrorBar();
    void layoutReconnectOverlay();
    void layoutConnectToLabel();
    QWidget* barOf(PaneTopBar bar) const;
    void keepTabOnTopmostBar();
    void coverMainWindowFlag(bool cover);

    MainViewDetailsAreaEvents* events_ = nullptr;
    ConnectButtonModel* buttonModel_ = nullptr;
    QWidget* darkMap_;
    QWidget* strip_;
    ErrorNotificationsBar* errorBar_;
    QLabel* errorUpper_;
    QLabel* errorLower_;
    QLabel* errorMulti_;
    QPushButton* errorClose_;
    ErrorBarContent errorContent_;
    UpgradeAvailableNotificationsBar* updateBar_;
    QLabel* updateText_;
    QPushButton* updateClose_;
    MainViewTopNotificationArea* serverBar_;
    QLabel* serverIcon_;
    ServerBarLinkButton* serverLink_;
    FlagActivityIndicator* serverSpinner_;
    double serverLeft_ = 0;
    MainViewTopNotificationArea* reconnectBar_;
    QWidget* card_;
    QLabel* connectTo_;
    QPushButton* changeProtocol_;
    LocationFlagImageView* flag_;
    FlagActivityIndicator* flagRing_;
    QLabel* connectedMark_;
    QLabel* name_;
    ChangeLocationButton* changeLocationTop_;
    QWidget* detailsBox_;
    QLabel* protocolValue_;
    QLabel* addressValue_;
    QLabel* timeValue_;
    ConnectButton* button_;
    QLabel* xSign_;
    ChangeLocationButton* changeInside_;
    double xSignPaddingLeft_ = -54.0;
    FooterIconView* footerIcon_;
    MainViewBottomBar* bottomBar_;
    FooterLinkButton* footerLink_;
    QPushButton* bottomClose_;
    QPushButton* gift_;
    QPushButton* inviteButton_;
    FlagActivityIndicator* bottomSpinner_;
    bool hasBottomBar_ = false;
    bool bottomBarCollapsed_ = false;
    // Which cross-fade a map being decoded belongs to.
    std::uint64_t mapFades_ = 0;
    AutoReconnectOverlayView* reconnectOverlay_;
    QLabel* reconnectHeader_;
    QLabel* reconnectSubheader_;
    ActivityIndicatorWithImage* reconnectSpinner_;
    QWidget* updateOverlay_;
    KitPopover* popover_;
    QLabel* popoverText_;
    std::map<PaneTopBar, QPointer<QAbstractAnimation>> slides_;
};

}  // namespace hw
