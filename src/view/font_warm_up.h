#pragma once
#include <thread>

namespace hw {

// Reads the system's font configuration on a thread of its own, so that the
// first window's text does not wait for it; the launch starts this before the
// application object, whose making takes longer. Qt takes the configuration
// read here. Joined when dropped.
std::jthread warmUpFontConfiguration();

// Lists the system's fonts into Qt's font database on a thread of its own
// while the launch wires itself up; the first window's text then only loads
// its faces. Start once the application object exists; drop before it goes.
std::jthread warmUpFontDatabase();

}  // namespace hw
