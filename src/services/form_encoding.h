#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http.h"

namespace hw {

// application/x-www-form-urlencoded: every byte but unreserved ones escaped (percentEncode).
std::string formBody(const std::vector<std::pair<std::string, std::string>>& fields);
// Whether the text is an absolute http or https URL with a host; links from the
// backend open only then.
bool isWebURL(std::string_view text);

}  // namespace hw
