#pragma once
#include "view/window_view.h"

namespace hw {

// Window-controller base that can follow its window while it is dragged.
// The view must outlive the controller.
class NSWindowMoveable {
public:
    explicit NSWindowMoveable(WindowView& window) : windowView_(window) {}
    virtual ~NSWindowMoveable() { windowView_.setMoveHandler(nullptr); }
    NSWindowMoveable(const NSWindowMoveable&) = delete;
    NSWindowMoveable& operator=(const NSWindowMoveable&) = delete;

protected:
    // Runs once when the window is first needed.
    virtual void prepareWindowMoveObservers() { doPrepareWindowMoveObservers(); }
    void doPrepareWindowMoveObservers() {
        windowView_.setMoveHandler([this](const WindowFrame& frame) { onWindowMoved(frame); });
    }
    virtual void onWindowMoved(const WindowFrame&) {}

    WindowView& windowView_;
};

}  // namespace hw
