#pragma once
// The update window's view as a record of what is on screen, and the shell it talks to.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "windows/update/auto_update_window_controller.h"

namespace hw::test {

// What a person would see: one field per outlet.
struct UpdateLayout {
    double statusTop = 0;
    bool statusHidden = true;
    std::string status;
    std::string statusColor;
    bool progressHidden = true;
    double progress = 0;
    std::string button;
    bool buttonEnabled = false;
    bool iconHidden = true;
    bool offerHidden = true;
    bool instructionsHidden = true;
    bool failedHidden = true;
    std::string cancel;

    bool operator==(const UpdateLayout&) const = default;
};

inline std::ostream& operator<<(std::ostream& o, const UpdateLayout& l) {
    return o << "{top " << l.statusTop << (l.statusHidden ? " status hidden" : " status '" + l.status + "' " + l.statusColor)
             << (l.progressHidden ? " no bar" : " bar " + std::to_string(l.progress)) << " button '" << l.button << "'"
             << (l.buttonEnabled ? "" : " disabled") << (l.iconHidden ? "" : " icon") << (l.offerHidden ? "" : " offer")
             << (l.instructionsHidden ? "" : " instructions") << (l.failedHidden ? "" : " failure") << " '" << l.cancel << "'}";
}

class RecordingAutoUpdateView final : public AutoUpdateWindowView {
public:
    void setStatusMessageTop(double top) override { layout.statusTop = top; }
    void setStatusMessage(const std::string& text) override { layout.status = text; }
    void setStatusMessageColor(const Color& c) override { layout.statusColor = c == Color::fromRgba("#FF0000") ? "red" : c == Color::fromRgba("#000000") ? "black" : "other"; }
    void setStatusMessageHidden(bool hidden) override { layout.statusHidden = hidden; }
    void setProgressValue(double value) override { layout.progress = value; }
    void setProgressHidden(bool hidden) override { layout.progressHidden = hidden; }
    void setInstallButtonTitle(const std::string& title) override { layout.button = title; }
    void setInstallButtonEnabled(bool enabled) override { layout.buttonEnabled = enabled; }
    void setAppIconHidden(bool hidden) override { layout.iconHidden = hidden; }
    void showApplicationIcon() override {}
    void setConfirmUpdateMessage(const std::string& text) override { offer = text; }
    void setConfirmUpdateMessageHidden(bool hidden) override { layout.offerHidden = hidden; }
    void setInstallInstructionsHidden(bool hidden) override { layout.instructionsHidden = hidden; }
    void setFailedToDownloadMessageHidden(bool hidden) override { layout.failedHidden = hidden; }
    void setFailedToDownloadMessage(const std::string& text) override { failure = text; }
    void setInstallButtonHidden(bool hidden) override { buttonHidden = hidden; }
    void setCancelButtonTitle(const std::string& title) override { layout.cancel = title; }
    void showCentered() override { calls.push_back("showCentered"); }
    void beginSheet(WindowView&, std::function<void()> ended) override {
        calls.push_back("beginSheet");
        sheetEnded = std::move(ended);
    }
    bool isSheet() const override { return sheetEnded != nullptr; }
    void endSheet() override {
        calls.push_back("endSheet");
        auto ended = std::move(sheetEnded);
        sheetEnded = nullptr;
        if (ended) ended();
    }
    void orderOut() override { calls.push_back("orderOut"); }
    void setActions(std::function<void()> update, std::function<void()> cancel) override {
        clickUpdate = std::move(update);
        clickCancel = std::move(cancel);
    }

    // What is hidden shows nothing.
    UpdateLayout seen() const {
        UpdateLayout l = layout;
        if (l.statusHidden) l.status = l.statusColor = "";
        if (l.progressHidden) l.progress = 0;
        return l;
    }

    UpdateLayout layout;
    std::string offer = "(from the window)";
    std::string failure;
    bool buttonHidden = false;
    std::vector<std::string> calls;
    std::function<void()> sheetEnded;
    std::function<void()> clickUpdate;
    std::function<void()> clickCancel;
};

class RecordingAutoUpdateShell final : public AutoUpdateShell {
public:
    bool connectButtonIsInDisconnectOrEmptyState() override { return disconnectShown; }
    void performIntentionalDisconnect() override { calls.push_back("performIntentionalDisconnect"); }
    void performQuitApplicationFromStatusBar() override { calls.push_back("performQuitApplicationFromStatusBar"); }
    bool disconnectShown = false;
    std::vector<std::string> calls;
};

}  // namespace hw::test
