#pragma once
#include <string>
#include <vector>

#include "recording_alert_view.h"
#include "view/window_view.h"

namespace hw::test {

// A window that records what its controller asked of it. close() runs the
// close handler as a real window does; userCloses() is the title bar's button.
class RecordingWindowView : public WindowView {
public:
    std::vector<std::string> calls;
    std::string currentTitle;
    bool visible = false;
    WindowFrame currentFrame{100, 100, 400, 300};
    std::function<void()> closeHandler;
    std::function<void(const WindowFrame&)> moveHandler;
    RecordingAlertView alertView;

    void setTitle(const std::string& title) override {
        currentTitle = title;
        calls.push_back("setTitle");
    }
    std::string title() const override { return currentTitle; }
    void show() override {
        visible = true;
        calls.push_back("show");
    }
    void orderOut() override {
        visible = false;
        calls.push_back("orderOut");
    }
    void close() override {
        calls.push_back("close");
        userCloses();
    }
    bool isVisible() const override { return visible; }
    void center() override { calls.push_back("center"); }
    WindowFrame frame() const override { return currentFrame; }
    void setFrame(const WindowFrame& frame) override { currentFrame = frame; }
    std::optional<WindowFrame> screenAreaAround(const WindowFrame&) const override { return screenArea; }
    std::optional<WindowFrame> screenArea;
    void setCloseHandler(std::function<void()> handler) override { closeHandler = std::move(handler); }
    void setMoveHandler(std::function<void(const WindowFrame&)> handler) override { moveHandler = std::move(handler); }
    AlertView& alerts() override { return alertView; }

    void userCloses() {
        if (closeHandler) closeHandler();
        visible = false;
    }
    void userDrags(const WindowFrame& to) {
        currentFrame = to;
        if (moveHandler) moveHandler(to);
    }
};

}  // namespace hw::test
