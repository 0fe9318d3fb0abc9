#pragma once
#include <string_view>

namespace hw {

// Whether the whole text is an e-mail address by the sign-in form's pattern,
// ignoring case. Text that is not valid UTF-8 never matches.
bool validEmail(std::string_view text);

}  // namespace hw
