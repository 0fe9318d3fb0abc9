#pragma once
#include <functional>

namespace hw {

// The class-level hover callbacks every connect button calls: the main window
// installs them while it is open and clears them before it closes.
struct ConnectButtonCallbacks {
    // The pointer has rested on a connect button for its hover delay.
    static inline std::function<void()> onMouseHoverDelayedCallback;
    static inline std::function<void()> onMouseExitedCallback;
    static inline std::function<void()> onMouseEnteredCallback;
};

// The connect button's title offsets: the button draws its title moved by
// (-buttonLabelOffsetX, -buttonLabelOffsetY).
struct ConnectButtonCell {
    double buttonLabelOffsetX = 0.0;
    double buttonLabelOffsetY = 2.0;
};

}  // namespace hw
