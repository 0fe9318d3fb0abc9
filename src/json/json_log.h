#pragma once
#include <string_view>

namespace hw {

// json/ sits below the log, so the log hands it a sink; until then (a tool or
// fuzzer built without the log) lines go to standard output.
using JSONLogSink = void (*)(std::string_view line);
void setJSONLogSink(JSONLogSink sink);  // nullptr: standard output again
void jsonLog(std::string_view line);

}  // namespace hw
