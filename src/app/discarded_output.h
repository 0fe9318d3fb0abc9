#pragma once
#include <string>

namespace hw {

// Where standard output or error go to the null device (the update's restart
// starts the application so), they go to havenway.log in the given folder
// instead, made private if missing: what the application says is kept. A log
// grown past its bound starts anew. Returns the log's path, or empty.
std::string keepDiscardedOutput(const std::string& logsDir);

}  // namespace hw
