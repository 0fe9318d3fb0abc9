#pragma once
#include <QPointer>
#include <QWidget>

#include "view/alert_view.h"

class QMessageBox;

namespace hw {

// Alerts as QMessageBox: a sheet is window-modal on the parent, an
// application-modal alert blocks every window. Texts are always plain.
class QtAlertView final : public AlertView {
public:
    static constexpr int kMinimumAlertWidth = 360;
    explicit QtAlertView(QWidget* parent = nullptr) : parent_(parent) {}
    void presentAlert(const AlertRequest& request, std::function<void(int response)> completion) override;

    // The box on display, for tests and screenshots.
    QMessageBox* current() const;

private:
    QPointer<QWidget> parent_;
    QPointer<QMessageBox> current_;
};

}  // namespace hw
