#pragma once

#include <string_view>

#include "json/json_object.h"

namespace hw::json_detail {

// Parses JSON text (any value at the top) into a raw object tree. Throws
// JSONParseError for text that is not JSON, nests deeper than
// kJSONMaxNesting, or holds a number out of the double range.
JSONObject parseJSONBytes(std::string_view bytes);

}  // namespace hw::json_detail
