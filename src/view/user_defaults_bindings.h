#pragma once
#include <string>

#include "view/user_defaults_controller.h"

class QAbstractButton;
class QButtonGroup;

namespace hw {

// Binds a check box to a bool setting: it shows the controller's value and
// writes its own on every toggle. The binding ends with the button.
void bindCheckBox(QAbstractButton& box, UserDefaultsController& controller, const std::string& key);

// Binds a group of radio buttons to an integer setting: the checked button's
// id is the value. The binding ends with the group.
void bindRadioGroup(QButtonGroup& group, UserDefaultsController& controller, const std::string& key);

}  // namespace hw
