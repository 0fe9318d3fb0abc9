#pragma once
#include <memory>

#include "app/shell_window_ports.h"
#include "platform/log.h"
#include "view/base_window_view_controller.h"

namespace hw {

// A window the shell makes on first use: owns its widget and controller and
// hands each call on. The controller reports its close to the shell.
template <class Widget, class Controller>
class ControllerWindowPort : public ShellWindowPort {
public:
    Widget& widget() { return *widget_; }
    Controller& controller() { return *controller_; }

    void showWindow() override {
        controller_->showWindow();
        // Process tests and support logs look for the first window on screen.
        log::info(logName_, "shown");
    }
    void orderFront() override {
        controller_->orderFront();
        log::info(logName_, "shown");
    }
    void orderOut() override { controller_->orderOut(); }
    void close() override { controller_->close(); }
    bool isVisible() const override { return widget_->isVisible(); }
    AlertView* sheetAlerts() override { return &widget_->alerts(); }

protected:
    explicit ControllerWindowPort(const char* logName) : logName_(logName), widget_(std::make_unique<Widget>()) {}
    ~ControllerWindowPort() override {
        controller_.reset();
        widget_->setCloseHandler(nullptr);
    }
    void adopt(std::unique_ptr<Controller> controller) {
        controller_ = std::move(controller);
        controller_->onWindowClosedNotification = [this](BaseWindowViewController&) {
            if (onWindowClosedNotification) onWindowClosedNotification();
        };
    }

private:
    const char* logName_;
    std::unique_ptr<Widget> widget_;
    std::unique_ptr<Controller> controller_;
};

}  // namespace hw
