#include "windows/update/auto_update_window_controller.h"

#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
constexpr const char* kLog = "AutoUpdateWindow";
const Color kDefaultStatusMessageColor = Color::fromRgba("#000000");
const Color kFailedStatusMessageColor = Color::fromRgba("#FF0000");
}  // namespace

AutoUpdateWindowController::AutoUpdateWindowController(AutoUpdateWindowEnvironment environment)
    : env_(std::move(environment)) {}

AutoUpdateWindowController::~AutoUpdateWindowController() {
    *alive_ = false;
    // The updater reports to us while it winds down.
    if (autoUpdater_) autoUpdater_->setDelegate(nullptr);
}

AutoUpdateWindowView& AutoUpdateWindowController::window() {
    if (!view_) {
        view_ = env_.makeView();
        windowDidLoad();
    }
    return *view_;
}

void AutoUpdateWindowController::windowDidLoad() {
    view_->setActions([this] { onUpdateButtonClick(); }, [this] { onCancelButtonClick(); });
    setupComponents();
    setupAfterOpening();
}

void AutoUpdateWindowController::setupComponents() {
    autoUpdater_ = env_.makeUpdater(env_.model.appAutoUpdateDownloadURL, "", 100);
    autoUpdater_->setDelegate(this);
}

void AutoUpdateWindowController::setupAfterOpening() {
    if (view_) enterState(AutoUpdateStates::ConfirmUpdate);
}

void AutoUpdateWindowController::showWindow() {
    window().showCentered();
    enterState(AutoUpdateStates::ConfirmUpdate);
}

void AutoUpdateWindowController::beginSheet(WindowView& parent, std::function<void()> ended) {
    window().beginSheet(parent, std::move(ended));
}

void AutoUpdateWindowController::enterState(AutoUpdateStates state) {
    ++layoutGeneration_;
    // Where nothing is left to do, the one button only closes the window.
    window().setCancelButtonTitle(state == AutoUpdateStates::FailedToInstallUpdate
                                      ? LocaleData::auto_update_close_button()
                                      : LocaleData::auto_update_cancel_button());
    switch (state) {
        case AutoUpdateStates::ConfirmUpdate: setConfirmUpdateState(); break;
        case AutoUpdateStates::DownloadingUpdate: setDownloadUpdateState(); break;
        case AutoUpdateStates::ReadyToInstallUpdate: setUpdateReadyToInstallState(); break;
        case AutoUpdateStates::FailedToDownloadUpdate: setDownloadFailedState(); break;
        case AutoUpdateStates::FailedToInstallUpdate: setInstallFailedState(); break;
    }
    currentState_ = state;
}

void AutoUpdateWindowController::setConfirmUpdateState() {
    auto& v = window();
    v.setStatusMessageTop(kStatusMessageTopDefault);
    v.setStatusMessageHidden(true);
    v.setAppIconHidden(false);
    v.setConfirmUpdateMessageHidden(false);
    v.setProgressHidden(true);
    v.setInstallInstructionsHidden(true);
    v.setFailedToDownloadMessageHidden(true);
    v.setInstallButtonHidden(false);
    v.setInstallButtonEnabled(true);
    v.setInstallButtonTitle(LocaleData::auto_update_install_button());
    v.showApplicationIcon();
    if (const auto& version = env_.model.newAppVersionString) {
        v.setConfirmUpdateMessage(LocaleData::fill(LocaleData::auto_update_wish_to_update_popup_text(), *version));
    }
}

void AutoUpdateWindowController::setDownloadUpdateState() {
    auto& v = window();
    v.setStatusMessageTop(kStatusMessageTopBottom);
    v.setAppIconHidden(true);
    v.setConfirmUpdateMessageHidden(true);
    v.setStatusMessage(LocaleData::auto_update_downloading_status());
    v.setStatusMessageHidden(false);
    v.setStatusMessageColor(kDefaultStatusMessageColor);
    v.setFailedToDownloadMessageHidden(true);
    v.setProgressValue(0.0);
    v.setProgressHidden(false);
    v.setInstallButtonEnabled(false);
    v.setInstallButtonTitle(LocaleData::auto_update_installing_button());
    // The archive must not come through a tunnel that goes when we quit.
    if (env_.shell.connectButtonIsInDisconnectOrEmptyState()) env_.shell.performIntentionalDisconnect();
    autoUpdater_->downloadUpdate();
}

void AutoUpdateWindowController::setUpdateReadyToInstallState() {
    auto& v = window();
    v.setStatusMessageTop(kStatusMessageTopBottom);
    v.setStatusMessage(LocaleData::auto_update_preparing_to_install_status());
    env_.queue.postAfter(kReadyToInstallDelayMs,
                         [this, alive = std::weak_ptr<bool>(alive_), generation = layoutGeneration_] {
                             // Cancelled or shown again in the meantime.
                             if (alive.expired() || generation != layoutGeneration_) return;
                             auto& w = window();
                             w.setStatusMessageTop(kStatusMessageTopDefault);
                             w.setStatusMessage(LocaleData::auto_update_ready_to_install_status());
                             w.setInstallInstructionsHidden(false);
                             w.setProgressHidden(true);
                             w.setInstallButtonTitle(LocaleData::auto_update_restart_button());
                             w.setInstallButtonEnabled(true);
                         });
}

void AutoUpdateWindowController::setDownloadFailedState() {
    auto& v = window();
    v.setStatusMessageTop(kStatusMessageTopDefault);
    v.setAppIconHidden(true);
    v.setConfirmUpdateMessageHidden(true);
    v.setFailedToDownloadMessageHidden(false);
    // Reached from the ready layout too, when the install could not start.
    v.setInstallInstructionsHidden(true);
    v.setFailedToDownloadMessage(LocaleData::auto_update_failed_to_download_text());
    v.setStatusMessage(LocaleData::auto_update_failed_to_download_status());
    v.setStatusMessageHidden(false);
    v.setStatusMessageColor(kFailedStatusMessageColor);
    v.setProgressHidden(true);
    v.setInstallButtonEnabled(true);
    v.setInstallButtonTitle(LocaleData::auto_update_try_again_button());
}

void AutoUpdateWindowController::setInstallFailedState() {
    setDownloadFailedState();
    auto& v = window();
    v.setFailedToDownloadMessage(LocaleData::auto_update_cannot_install_text());
    v.setStatusMessage(LocaleData::auto_update_cannot_install_status());
    v.setInstallButtonHidden(true);
}

void AutoUpdateWindowController::onDownloadProgressChangedWithCurrentProgress(double value) {
    window().setProgressValue(value);
}

void AutoUpdateWindowController::onUpdateButtonClick() {
    log::info(kLog, "onUpdateButtonClick");
    switch (currentState_) {
        case AutoUpdateStates::ConfirmUpdate:
        case AutoUpdateStates::FailedToDownloadUpdate: enterState(AutoUpdateStates::DownloadingUpdate); break;
        case AutoUpdateStates::DownloadingUpdate:
        case AutoUpdateStates::FailedToInstallUpdate: break;
        case AutoUpdateStates::ReadyToInstallUpdate:
            // Quitting without a running script would leave the user with nothing.
            if (!autoUpdater_->installUpdate()) return;
            dismiss();
            env_.shell.performQuitApplicationFromStatusBar();
            break;
    }
}

void AutoUpdateWindowController::onCancelButtonClick() {
    log::info(kLog, "onCancelButtonClick");
    if (currentState_ == AutoUpdateStates::DownloadingUpdate) autoUpdater_->cancelUpdateDownload();
    if (currentState_ == AutoUpdateStates::ReadyToInstallUpdate) autoUpdater_->deleteDownloadedUpdate();
    dismiss();
}

void AutoUpdateWindowController::dismiss() {
    if (!view_) return;
    // Shown alone, nothing else would take the window away.
    if (view_->isSheet()) view_->endSheet();
    else view_->orderOut();
}

void AutoUpdateWindowController::updaterDidChangeProgress(AUUpdater&, double progress) {
    onDownloadProgressChangedWithCurrentProgress(progress * 100.0);
    log::debug(kLog, "AUUpdaterDelegate -- didChangeProgress: " + std::to_string(progress));
}

void AutoUpdateWindowController::updaterDidChangeState(AUUpdater& updater, AUUpdaterState state) {
    log::info(kLog, "AUUpdaterDelegate -- didChange: " + std::to_string(static_cast<int>(state)));
    if (state != AUUpdaterState::Failed) return;
    if (updater.lastFailure() == AUUpdaterFailure::Install) {
        log::info(kLog, "Auto-Update cannot be installed here.");
        enterState(AutoUpdateStates::FailedToInstallUpdate);
    } else {
        log::info(kLog, "Auto-Update download failed.");
        enterState(AutoUpdateStates::FailedToDownloadUpdate);
    }
}

void AutoUpdateWindowController::updaterWantsToInstallUpdateWithCriticalStatus(AUUpdater&, bool critical) {
    log::info(kLog, "AUUpdaterDelegate -- update downloaded and ready to install.");
    log::info(kLog, std::string("AUUpdaterDelegate -- wantsToInstallUpdateWithCriticalStatus ") +
                        (critical ? "true" : "false"));
    enterState(AutoUpdateStates::ReadyToInstallUpdate);
}

}  // namespace hw
