#pragma once
#include <functional>

#include <QObject>

class QWidget;

namespace hw {

// Watches the closes the user asks for (the window manager's close button,
// and Escape in the kit's windows) across the application: when the closing
// window is the last one on screen, mayClose decides, and false keeps the
// window open. A window may take a companion along when it closes (the main
// window its locations window), which then does not count as staying.
class LastWindowCloseGuard final : public QObject {
public:
    LastWindowCloseGuard(std::function<bool()> mayClose, std::function<QWidget*(QWidget*)> companion);
    ~LastWindowCloseGuard() override;

    bool eventFilter(QObject* watched, QEvent* event) override;
    // Whether the user's close of that window may go ahead.
    bool allows(QWidget& closing);

private:
    std::function<bool()> mayClose_;
    std::function<QWidget*(QWidget*)> companion_;
};

}  // namespace hw
