#pragma once
#include <functional>
#include <string>

#include "app/menu_model.h"

namespace hw {

// The status-bar (tray) item as the shell drives it.
class StatusItemView {
public:
    virtual ~StatusItemView() = default;
    // Whether the desktop shows the item; without a tray host it does not.
    virtual bool isShown() const = 0;
    // One of the application's single-colour status images, by name.
    virtual void setImage(const std::string& name) = 0;
    virtual void setMenu(const MenuPtr& menu) = 0;
    // A click on the item itself (not its menu); set by the shell.
    std::function<void()> onActivated;
    // The tray that showed the item went away; set by the shell.
    std::function<void()> onLost;
    // A tray shows the item now (one that came after the start, or anew).
    std::function<void()> onShown;
};

}  // namespace hw
