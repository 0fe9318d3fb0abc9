#pragma once
#include <memory>

#include "app/shell_window_ports.h"
#include "controllers/free_trial_sign_up_window_controller.h"
#include "controllers/free_trial_sign_up_window_widget.h"

namespace hw {

// The shell's view of the sign-up window: owns the widget and its controller.
class SignUpWindowPortAdapter final : public ShellWindowPort {
public:
    SignUpWindowPortAdapter(const BaseControllerContext& context, FreeTrialSignUpDependencies dependencies);
    ~SignUpWindowPortAdapter() override;

    FreeTrialSignUpWindowWidget& widget() { return *widget_; }
    FreeTrialSignUpWindowController& controller() { return *controller_; }

    void showWindow() override;
    void orderOut() override { controller_->orderOut(); }
    void close() override { controller_->close(); }
    bool isVisible() const override { return widget_->isVisible(); }
    AlertView* sheetAlerts() override { return &widget_->alerts(); }

private:
    std::unique_ptr<FreeTrialSignUpWindowWidget> widget_;
    std::unique_ptr<FreeTrialSignUpWindowController> controller_;
};

}  // namespace hw
