#pragma once
#include <functional>
#include <memory>

#include "app/shell_window_ports.h"
#include "view/base_controller_context.h"
#include "windows/main/main_window_view_controller.h"

class QObject;

namespace hw {

class MainWindowWidget;
class ServiceLayer;
class VPNConnectionManagerPaneEngine;

// What the main window is made from in the application.
struct MainWindowAdapterParts {
    ServiceLayer& hub;
    MainQueue& queue;
    BackgroundQueue& background;
    const ImageCodec& codec;
    Clock& clock;
    UserNotificationCenter& notifications;
    URLOpener& urlOpener;
    AnalyticsSink analytics;
    // The shell exists only after its windows: asked for on first use.
    std::function<ShellCommands*()> shell;
    // The keyboard quit of the window.
    std::function<void()> onQuitKey;
    LocationsWindow* locationsWindow = nullptr;
    // None until the details pane is built.
    std::function<std::shared_ptr<DetailsPane>(MainWindowWidget&)> makeDetailsPane{};
    bool isEnterpriseVersion = GlobalConstants::isEnterpriseVersion;
};

// The shell's port onto the main window's controller: forwards, nothing more.
// The window and its controller are made on the first call, once the shell exists.
class MainWindowPortAdapter final : public MainWindowPort {
public:
    explicit MainWindowPortAdapter(MainWindowAdapterParts parts);
    ~MainWindowPortAdapter() override;

    void showWindow() override {
        placeOnce();
        controller().showWindow();
    }
    void orderFront() override {
        placeOnce();
        controller().orderFront();
    }
    void orderOut() override { controller().orderOut(); }
    // A window never made has nothing to close.
    void close() override {
        if (controller_) controller_->close();
    }
    bool isVisible() const override;
    AlertView* sheetAlerts() override;
    std::optional<WindowFrame> shownFrame() const override;
    void placeAt(const WindowFrame& frame) override;

    void selectLocation(const std::shared_ptr<LocationsListItemModel>& item, bool skip) override {
        controller().selectLocation(item, skip);
    }
    void showUpdateAvailableNotificationBar() override { controller().showUpdateAvailableNotificationBar(); }
    void showWiFiInsecureNotification() override { controller().showWiFiInsecureNotification(); }
    void showConnectedToWiFiNotification() override { controller().showConnectedToWiFiNotification(); }
    void prepareMainViewAfterSettingsViewBeenClosed() override {
        controller().prepareMainViewAfterSettingsViewBeenClosed();
    }
    void closeConnectButtonPopover() override { controller().closeConnectButtonPopover(); }
    void dropConnectButtonHover() override { controller().dropConnectButtonHover(); }
    void hideAutoReconnectOverlay() override;
    // The pane once the window has loaded it.
    DetailsPanePort* detailsController() override;
    // The pane hands this window to the update sheet: the shell finds its end's owner by it.
    WindowView* windowView() override;
    void autoUpdateSheetDidEnd() override;
    // The connection layer says whether a tunnel is up or being made, whatever
    // the button shows (or whether the window was ever made).
    bool connectButtonIsInDisconnectOrEmptyState() override;
    void performIntentionalDisconnect() override;

    void setupMainView(const std::shared_ptr<LocationsListModel>& data,
                       const VPNConnectionDetailsCallbacks& callbacks) override {
        controller().setupMainView(data, callbacks);
    }
    void onLatestSmartWidgetDataLoadedWithData(const std::shared_ptr<SmartWidgetData>& data) override {
        controller().onLatestSmartWidgetDataLoadedWithData(data);
    }
    void updateMainViewMapImage() override { controller().updateMainViewMapImage(); }
    void showNoOnternetConnectionOverlay() override { controller().showNoOnternetConnectionOverlay(); }
    void hideNoOnternetConnectionOverlay() override { controller().hideNoOnternetConnectionOverlay(); }
    void refreshTopNotificationBar(const std::shared_ptr<TopNotificationBarModel>& top,
                                   const std::shared_ptr<BottomNotificationBarModel>& bottom) override {
        controller().refreshTopNotificationBar(top, bottom);
    }

    MainWindowViewController& controller();
    MainWindowWidget& widget();

private:
    // The real pane in the window's details place (main_window_details_pane.cpp).
    std::shared_ptr<DetailsPane> makeRealDetailsPane();
    // Its first showing is centred on the screen: left to the window manager,
    // it could land beside whatever shows already (an alert), partly off it.
    void placeOnce();
    bool placed_ = false;

    MainWindowAdapterParts parts_;
    std::unique_ptr<RemoteImageLoader> images_;
    std::unique_ptr<MainWindowWidget> widget_;
    std::unique_ptr<VPNConnectionManagerPaneEngine> engine_;
    // Follows the window on and off the screen for the session clock.
    std::unique_ptr<QObject> onScreenWatch_;
    std::shared_ptr<MainWindowViewController> controller_;
};

}  // namespace hw
