#pragma once
#include <functional>
#include <optional>
#include <string>

#include "core/application_model_ports.h"
#include "view/alert_view.h"

namespace hw {

// What a window controller asks of its window. The Qt window only draws and
// forwards; controllers are tested against a recording one.
class WindowView {
public:
    virtual ~WindowView() = default;

    virtual void setTitle(const std::string& title) = 0;
    virtual std::string title() const = 0;
    // Shows the window, raises it and gives it the focus.
    virtual void show() = 0;
    // Hides it without closing: no close handler runs.
    virtual void orderOut() = 0;
    // Closes it; the close handler runs before it goes.
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
    // Centres it on the screen it is on.
    virtual void center() = 0;
    // Screen frame, in Qt's coordinates (origin top-left).
    virtual WindowFrame frame() const = 0;
    virtual void setFrame(const WindowFrame& frame) = 0;
    // The usable part (without panels) of the screen the frame is on; none
    // where that is not known.
    virtual std::optional<WindowFrame> screenAreaAround(const WindowFrame&) const { return std::nullopt; }

    // Runs when the window is about to close, whoever closes it.
    virtual void setCloseHandler(std::function<void()> handler) = 0;
    // Runs while the window is being dragged, with its current frame.
    virtual void setMoveHandler(std::function<void(const WindowFrame&)> handler) = 0;

    // Sheets on this window; application-modal alerts also come from here.
    virtual AlertView& alerts() = 0;
};

}  // namespace hw
