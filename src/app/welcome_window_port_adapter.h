#pragma once
#include <functional>
#include <optional>
#include <string>

#include "app/controller_window_port.h"
#include "windows/welcome/welcome_window_view_controller.h"
#include "windows/welcome/widgets/welcome_window_widget.h"

namespace hw {

// The application's quit key on a window of its own.
void installQuitShortcut(QWidget& window, std::function<void()> onQuit);

// The onboarding pages as the application carries them.
std::optional<std::string> readBundledOnBoardingPages();

// The shell's view of the welcome window.
class WelcomeWindowPortAdapter final
    : public ControllerWindowPort<WelcomeWindowWidget, WelcomeWindowViewController> {
public:
    WelcomeWindowPortAdapter(const BaseControllerContext& context, ShellCommands& shell);
};

}  // namespace hw
