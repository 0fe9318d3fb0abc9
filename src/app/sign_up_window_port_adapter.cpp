#include "app/sign_up_window_port_adapter.h"

namespace hw {

SignUpWindowPortAdapter::SignUpWindowPortAdapter(const BaseControllerContext& context,
                                                 FreeTrialSignUpDependencies dependencies)
    : ControllerWindowPort("SignUp") {
    adopt(std::make_unique<FreeTrialSignUpWindowController>(context, widget(), widget(), std::move(dependencies)));
}

}  // namespace hw
