#include "view/base_view_controller.h"

namespace hw {

void BaseViewController::loadViewIfNeeded() {
    if (loaded_) return;
    loaded_ = true;
    setupComponents();
    customizeComponents();
}

}  // namespace hw
