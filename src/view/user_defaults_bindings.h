#pragma once
#include <string>
#include <vector>

#include "view/user_defaults_controller.h"

class QAbstractButton;
class QButtonGroup;
class QComboBox;

namespace hw {

// Binds a check box to a bool setting: it shows the controller's value and
// writes its own on every toggle. The binding ends with the button.
void bindCheckBox(QAbstractButton& box, UserDefaultsController& controller, const std::string& key);

// Binds a group of radio buttons to an integer setting: the checked button's
// id is the value. The binding ends with the group.
void bindRadioGroup(QButtonGroup& group, UserDefaultsController& controller, const std::string& key);

// Binds a choice to a text setting by position: the button with id i, or
// item i, stores values[i]. A stored text that is not among the values
// shows no choice and stays as it is until the user picks one.
void bindTextChoice(QButtonGroup& group, UserDefaultsController& controller, const std::string& key,
                    std::vector<std::string> values);
void bindTextChoice(QComboBox& menu, UserDefaultsController& controller, const std::string& key,
                    std::vector<std::string> values);

}  // namespace hw
