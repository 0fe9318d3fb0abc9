#include "windows/main/main_window_view_controller.h"

#include "platform/log.h"
#include "windows/details_pane/connect_button_callbacks.h"

namespace hw {

namespace {
constexpr char kLog[] = "MainWindow";
}

MainWindowViewController::MainWindowViewController(MainWindowEnvironment env)
    : BaseWindowViewController(env.context, env.window),
      env_(std::move(env)),
      table_(env_.context.model),
      profileMenu_(env_.isEnterpriseVersion) {
    env_.view.setEvents(this);
    profileMenu_.onCommand = [this](ProfileMenuTableSections section) { runProfileCommand(section); };
    profileMenu_.onBackgroundsChanged = [this] { env_.view.setProfileMenuRowBackgrounds(profileMenu_.rowBackgrounds()); };
}

MainWindowViewController::~MainWindowViewController() {
    env_.view.setEvents(nullptr);
    if (isWindowLoaded()) {
        env_.view.setFlagClickHandler(nullptr);
        env_.view.setSmartWidgetClickHandler(nullptr);
    }
}

void MainWindowViewController::later(double ms, std::function<void(MainWindowViewController&)> task) {
    std::weak_ptr<MainWindowViewController> weak = weak_from_this();
    env_.queue.postAfter(ms, [weak, task = std::move(task)] {
        if (auto self = weak.lock()) task(*self);
    });
}

void MainWindowViewController::setupComponents() {
    env_.view.bindTable(table_);
    log::info(kLog, "setup MainView components");
    if (env_.makeDetailsPane) detailsViewController_ = env_.makeDetailsPane();
    if (auto& pane = detailsViewController_) {
        std::weak_ptr<MainWindowViewController> weak = weak_from_this();
        pane->setDeactivateTableCallback([weak] {
            if (auto self = weak.lock()) self->deactivateTableView();
        });
        pane->setActivateTableCallback([weak] {
            if (auto self = weak.lock()) self->activateTableView();
        });
    }
    setupProfilePopUpMenuItems();
    // Stars dim and undim with the settings lock.
    model().addVPNSettingsChangingDisabledObserver<MainWindowViewController>(
        weak_from_this(), [](MainWindowViewController& self, bool) { self.table_.starsEnabledChanged(); });
    if (detailsViewController_) detailsViewController_->setupDetailViewComponents();
    setLoadedBackgroundImage(model().mainViewMapImage);
    if (setupMainViewPending_) {
        setupMainViewPending_ = false;
        auto data = std::move(pendingInputData_);
        auto callbacks = pendingConnectionDetailsCallback_.value_or(VPNConnectionDetailsCallbacks{});
        pendingInputData_.reset();
        pendingConnectionDetailsCallback_.reset();
        setupMainView(std::move(data), std::move(callbacks));
    }
}

void MainWindowViewController::customizeComponents() {
    if (detailsViewController_) detailsViewController_->setDefaultButtonLabel();
    auto cached = model().loadCachedSmartWidgetData();
    if (cached && !cached->failedToLoadCachedData()) {
        configureSmartWidgetWithData(cached);
    } else {
        showSmartWidgetDataLoading();
    }
}

void MainWindowViewController::setupAfterOpening() {
    if (detailsViewController_) detailsViewController_->updateIPAddress(std::nullopt);
    updateHandCursorsInDetailsView();
    updateMainViewMapImage();
    if (detailsViewController_) detailsViewController_->hideErrorNotificationBar();
    std::weak_ptr<MainWindowViewController> weak = weak_from_this();
    env_.view.setFlagClickHandler([weak] {
        if (auto self = weak.lock()) self->onFlagImageClick();
    });
    windowFocusObserved_ = true;
    setupConnectButtonHoverObservers();
}

void MainWindowViewController::setupBeforeClosing() {
    env_.shell.hideLocationsWindow();
    env_.view.setFlagClickHandler(nullptr);
    windowFocusObserved_ = false;
    removeConnectButtonHoverObservers();
}

void MainWindowViewController::setupConnectButtonHoverObservers() {
    std::weak_ptr<MainWindowViewController> weak = weak_from_this();
    ConnectButtonCallbacks::onMouseHoverDelayedCallback = [weak] {
        auto self = weak.lock();
        if (!self || self->connectButtonPopoverShown_) return;
        self->connectButtonPopoverShown_ = true;
        if (self->detailsViewController_) self->detailsViewController_->showConnectButtonPopover();
    };
    ConnectButtonCallbacks::onMouseExitedCallback = [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->detailsViewController_) self->detailsViewController_->closeConnectButtonPopover();
        self->connectButtonPopoverShown_ = false;
    };
}

void MainWindowViewController::removeConnectButtonHoverObservers() {
    ConnectButtonCallbacks::onMouseHoverDelayedCallback = nullptr;
    ConnectButtonCallbacks::onMouseExitedCallback = nullptr;
}

void MainWindowViewController::windowDidBecomeMain() {
    if (!windowFocusObserved_) return;
    log::debug(kLog, "windowDidBecomeMainNotification");
    updateHandCursorsInDetailsView();
}

void MainWindowViewController::updateHandCursorsInDetailsView() {
    if (!isWindowLoaded()) return;
    if (detailsViewController_) detailsViewController_->updateHandCursors();
    env_.view.refreshHandCursors();
}

void MainWindowViewController::refreshTopNotificationBar(const std::shared_ptr<TopNotificationBarModel>& top,
                                                         const std::shared_ptr<BottomNotificationBarModel>& bottom) {
    if (!detailsViewController_) return;
    detailsViewController_->setupTopNotificationBar(top, bottom);
    updateHandCursorsInDetailsView();
}

void MainWindowViewController::showUpdateAvailableNotificationBar() {
    auto& pane = detailsViewController_;
    if (pane && pane->hasUpdateTopNotificationBar()) pane->showUpdateTopNotificationBar();
}

void MainWindowViewController::setupMainView(std::shared_ptr<LocationsListModel> data,
                                             VPNConnectionDetailsCallbacks callbacks) {
    log::info(kLog, "setupMainView executed!");
    if (!isWindowLoaded()) {
        setupMainViewPending_ = true;
        pendingInputData_ = std::move(data);
        pendingConnectionDetailsCallback_ = std::move(callbacks);
        return;
    }
    if (detailsViewController_) detailsViewController_->setConnectionDetailsCallbacks(callbacks);
    updateTableData(data);
    if (auto current = model().currentLocation()) {
        selectLocation(current, false);
    } else if (data && !data->listWithOutGroups().empty()) {
        selectLocation(data->listWithOutGroups().front(), false);
    } else {
        log::info(kLog, "setupMainView: no location to select");
    }
    if (detailsViewController_) detailsViewController_->prepareConnectionStatusNotifications();
}

void MainWindowViewController::updateTableData(std::shared_ptr<LocationsListModel> data) {
    tableViewDataObject_ = std::move(data);
    if (tableViewDataObject_) tableViewDataObject_->rebuildLists();
    table_.reload(tableViewDataObject_);
    if (env_.locationsWindow) env_.locationsWindow->updateTableData(tableViewDataObject_);
}

void MainWindowViewController::onWindowMoved(const WindowFrame& frame) {
    if (env_.locationsWindow && env_.locationsWindow->windowOpened()) env_.locationsWindow->onMainWindowMoved(frame);
}

}  // namespace hw
