#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/application_model.h"
#include "platform/main_queue.h"
#include "windows/update/au_updater.h"
#include "windows/update/auto_update_window_view.h"

namespace hw {

enum class AutoUpdateStates : std::uint8_t {
    ConfirmUpdate = 0,
    DownloadingUpdate = 1,
    ReadyToInstallUpdate = 2,
    FailedToDownloadUpdate = 3,
    // The archive cannot be installed over this application: trying again
    // would never help, so no button offers it.
    FailedToInstallUpdate = 4,
};

// What the update window asks of the application shell.
class AutoUpdateShell {
public:
    virtual ~AutoUpdateShell() = default;
    // A tunnel is up or being made, as the connection layer knows it: the
    // main window's connect button then offers Disconnect, or shows nothing.
    virtual bool connectButtonIsInDisconnectOrEmptyState() = 0;
    virtual void performIntentionalDisconnect() = 0;
    virtual void performQuitApplicationFromStatusBar() = 0;
};

struct AutoUpdateWindowEnvironment {
    MainQueue& queue;
    ApplicationModel& model;
    AutoUpdateShell& shell;
    // The window, made on first use.
    std::function<std::unique_ptr<AutoUpdateWindowView>()> makeView;
    std::function<std::unique_ptr<AUUpdater>(const std::string& host, const std::string& channel,
                                             std::int64_t percentile)>
        makeUpdater;
};

// The window that offers a new version, downloads it and installs it.
// Plain C++ against its view; main thread only.
class AutoUpdateWindowController final : public AUUpdaterDelegate {
public:
    static constexpr double kStatusMessageTopDefault = 13.0;
    static constexpr double kStatusMessageTopBottom = 25.0;
    static constexpr double kReadyToInstallDelayMs = 1000;

    explicit AutoUpdateWindowController(AutoUpdateWindowEnvironment environment);
    ~AutoUpdateWindowController() override;
    AutoUpdateWindowController(const AutoUpdateWindowController&) = delete;
    AutoUpdateWindowController& operator=(const AutoUpdateWindowController&) = delete;

    // Loads the window on first use: the updater is made and the offer shown.
    AutoUpdateWindowView& window();
    bool isWindowLoaded() const { return view_ != nullptr; }
    // Alone, centred on the screen, from the offer.
    void showWindow();
    // The offer again, when the window is loaded.
    void setupAfterOpening();
    // Window-modal on parent; ended runs when the sheet goes.
    void beginSheet(WindowView& parent, std::function<void()> ended);

    void enterState(AutoUpdateStates state);
    void onDownloadProgressChangedWithCurrentProgress(double value);
    void onUpdateButtonClick();
    void onCancelButtonClick();

    AutoUpdateStates currentState() const { return currentState_; }
    AUUpdater* autoUpdater() { return autoUpdater_.get(); }

    // AUUpdaterDelegate.
    void updaterWantsToInstallUpdateWithCriticalStatus(AUUpdater& updater, bool critical) override;
    void updaterDidChangeState(AUUpdater& updater, AUUpdaterState state) override;
    void updaterDidChangeProgress(AUUpdater& updater, double progress) override;

private:
    void windowDidLoad();
    void setupComponents();
    void setConfirmUpdateState();
    void setDownloadUpdateState();
    void setUpdateReadyToInstallState();
    void setDownloadFailedState();
    void setInstallFailedState();
    // Ends the sheet, or hides the window shown alone.
    void dismiss();

    AutoUpdateWindowEnvironment env_;
    std::unique_ptr<AutoUpdateWindowView> view_;
    std::unique_ptr<AUUpdater> autoUpdater_;
    AutoUpdateStates currentState_ = AutoUpdateStates::ConfirmUpdate;
    // The delayed step of the ready layout runs only while this is unchanged.
    std::uint64_t layoutGeneration_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
