#pragma once
#include <functional>
#include <string>

#include "core/color.h"

namespace hw {

class WindowView;

// What the update window's controller asks of its window: the outlets as
// calls. The window forwards its two buttons; closing it (the title bar,
// Escape) counts as Cancel.
class AutoUpdateWindowView {
public:
    virtual ~AutoUpdateWindowView() = default;

    // Distance from the window's top to the status line.
    virtual void setStatusMessageTop(double top) = 0;
    virtual void setStatusMessage(const std::string& text) = 0;
    virtual void setStatusMessageColor(const Color& color) = 0;
    virtual void setStatusMessageHidden(bool hidden) = 0;
    // 0..100.
    virtual void setProgressValue(double value) = 0;
    virtual void setProgressHidden(bool hidden) = 0;
    virtual void setInstallButtonTitle(const std::string& title) = 0;
    virtual void setInstallButtonEnabled(bool enabled) = 0;
    virtual void setAppIconHidden(bool hidden) = 0;
    virtual void showApplicationIcon() = 0;
    virtual void setConfirmUpdateMessage(const std::string& text) = 0;
    virtual void setConfirmUpdateMessageHidden(bool hidden) = 0;
    virtual void setInstallInstructionsHidden(bool hidden) = 0;
    virtual void setFailedToDownloadMessageHidden(bool hidden) = 0;
    // The text under a failure's status line.
    virtual void setFailedToDownloadMessage(const std::string& text) = 0;
    virtual void setInstallButtonHidden(bool hidden) = 0;
    virtual void setCancelButtonTitle(const std::string& title) = 0;

    // Alone: centred on the screen and shown.
    virtual void showCentered() = 0;
    // Window-modal on parent; ended runs once, on the main queue, whenever
    // the sheet goes.
    virtual void beginSheet(WindowView& parent, std::function<void()> ended) = 0;
    virtual bool isSheet() const = 0;
    virtual void endSheet() = 0;
    // Off the screen, when shown alone.
    virtual void orderOut() = 0;

    virtual void setActions(std::function<void()> onUpdateButton, std::function<void()> onCancelButton) = 0;
};

}  // namespace hw
