#pragma once
#include <cstdint>
#include <string_view>

namespace hw {

// What a text field's validation type asks of its text:
// 0 and 5 anything, 1 an e-mail address, 2 empty or an e-mail address,
// 3 more than 5 UTF-16 units, 4 and 6 upwards not empty.
bool textFieldValidates(std::uint32_t validationType, std::string_view utf8Text);

}  // namespace hw
