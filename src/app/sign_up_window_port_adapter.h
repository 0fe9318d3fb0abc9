#pragma once
#include "app/controller_window_port.h"
#include "windows/sign_up/free_trial_sign_up_window_controller.h"
#include "windows/sign_up/widgets/free_trial_sign_up_window_widget.h"

namespace hw {

// The shell's view of the sign-up window.
class SignUpWindowPortAdapter final
    : public ControllerWindowPort<FreeTrialSignUpWindowWidget, FreeTrialSignUpWindowController> {
public:
    SignUpWindowPortAdapter(const BaseControllerContext& context, FreeTrialSignUpDependencies dependencies);
};

}  // namespace hw
