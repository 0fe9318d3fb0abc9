#include "app/sign_up_window_port_adapter.h"

#include "platform/log.h"

namespace hw {

SignUpWindowPortAdapter::SignUpWindowPortAdapter(const BaseControllerContext& context,
                                                 FreeTrialSignUpDependencies dependencies)
    : widget_(std::make_unique<FreeTrialSignUpWindowWidget>()) {
    controller_ =
        std::make_unique<FreeTrialSignUpWindowController>(context, *widget_, *widget_, std::move(dependencies));
    controller_->onWindowClosedNotification = [this](BaseWindowViewController&) {
        if (onWindowClosedNotification) onWindowClosedNotification();
    };
}

SignUpWindowPortAdapter::~SignUpWindowPortAdapter() {
    controller_.reset();
    widget_->setCloseHandler(nullptr);
}

void SignUpWindowPortAdapter::showWindow() {
    controller_->showWindow();
    // Process tests and support logs look for the first window on screen.
    log::info("SignUp", "shown");
}

}  // namespace hw
