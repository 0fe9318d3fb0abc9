#pragma once
#include <QDialog>
#include <functional>

#include "windows/update/auto_update_window_view.h"

class QLabel;
class QProgressBar;

namespace hw {

class NSButtonWithHandCursor;

// The update window, drawn in code: a fixed-size dialog that only draws and
// forwards its buttons. As a sheet it is window-modal on its parent.
class AutoUpdateWindowWidget final : public QDialog, public AutoUpdateWindowView {
    Q_OBJECT
public:
    static constexpr int kWidth = 440;
    static constexpr int kHeight = 150;

    explicit AutoUpdateWindowWidget(QWidget* parent = nullptr);
    ~AutoUpdateWindowWidget() override;

    void setStatusMessageTop(double top) override;
    void setStatusMessage(const std::string& text) override;
    void setStatusMessageColor(const Color& color) override;
    void setStatusMessageHidden(bool hidden) override;
    void setProgressValue(double value) override;
    void setProgressHidden(bool hidden) override;
    void setInstallButtonTitle(const std::string& title) override;
    void setInstallButtonEnabled(bool enabled) override;
    void setAppIconHidden(bool hidden) override;
    void showApplicationIcon() override;
    void setConfirmUpdateMessage(const std::string& text) override;
    void setConfirmUpdateMessageHidden(bool hidden) override;
    void setInstallInstructionsHidden(bool hidden) override;
    void setFailedToDownloadMessageHidden(bool hidden) override;
    void setFailedToDownloadMessage(const std::string& text) override;
    void setInstallButtonHidden(bool hidden) override;
    void setCancelButtonTitle(const std::string& title) override;
    void showCentered() override;
    void beginSheet(WindowView& parent, std::function<void()> ended) override;
    bool isSheet() const override { return sheetEnded_ != nullptr; }
    void endSheet() override;
    void orderOut() override;
    void setActions(std::function<void()> onUpdateButton, std::function<void()> onCancelButton) override;

    // For tests and shots.
    QLabel* statusMessage() const { return statusMessage_; }
    QProgressBar* progressIndicator() const { return progressIndicator_; }
    NSButtonWithHandCursor* installButton() const { return installButton_; }
    NSButtonWithHandCursor* cancelButton() const { return cancelButton_; }
    QLabel* confirmUpdateMessage() const { return confirmUpdateMessage_; }

protected:
    // Escape and the title bar's close count as Cancel.
    void reject() override;
    // A hairline edge, so that the sheet stands apart from the window below.
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* appIconImage_;
    QLabel* confirmUpdateMessage_;
    QLabel* statusMessage_;
    QProgressBar* progressIndicator_;
    QLabel* updateInstallInstructionsText_;
    QLabel* failedToDownloadMessage_;
    NSButtonWithHandCursor* cancelButton_;
    NSButtonWithHandCursor* installButton_;
    std::function<void()> onUpdate_;
    std::function<void()> onCancel_;
    std::function<void()> sheetEnded_;
};

}  // namespace hw
