#pragma once
#include "app/shell_window_ports.h"
#include "view/qt_alert_view.h"

namespace hw {

// The shell's questions as kit alerts: a sheet on the given window, else
// application-modal.
class KitShellAlerts final : public ShellAlertPresenter {
public:
    void present(ShellWindowPort* sheetParent, const ShellAlert& alert, std::function<void(int)> done) override;
    // The application-modal alert on display, for tests and screenshots.
    QtAlertView& applicationAlerts() { return applicationAlerts_; }

private:
    QtAlertView applicationAlerts_{nullptr};
};

}  // namespace hw
