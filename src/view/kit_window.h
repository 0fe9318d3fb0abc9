#pragma once
#include <QWidget>
#include <functional>
#include <vector>

#include "view/qt_alert_view.h"
#include "view/window_view.h"

namespace hw {

// A top-level Qt window behind a WindowView: it draws its content and
// forwards its close and its moves to the controller, nothing more.
class KitWindow : public QWidget, public WindowView {
    Q_OBJECT
public:
    explicit KitWindow(QWidget* parent = nullptr);
    ~KitWindow() override;

    void setTitle(const std::string& title) override;
    std::string title() const override;
    void show() override;
    void orderOut() override;
    void close() override;
    bool isVisible() const override;
    void center() override;
    WindowFrame frame() const override;
    void setFrame(const WindowFrame& frame) override;
    std::optional<WindowFrame> screenAreaAround(const WindowFrame& frame) const override;
    void setCloseHandler(std::function<void()> handler) override { closeHandler_ = std::move(handler); }
    void setMoveHandler(std::function<void(const WindowFrame&)> handler) override { moveHandler_ = std::move(handler); }
    AlertView& alerts() override { return alerts_; }
    // Escape closes the window as its close button does, but for the main one.
    void setClosesOnEscape(bool closes) { closesOnEscape_ = closes; }
    // What decides a close the user asks for (the title bar's or Escape):
    // false keeps the window open. None: every such close goes ahead.
    static void setUserCloseCheck(std::function<bool(QWidget& closing)> check);
    static bool userMayClose(QWidget& closing);
    // A hidden window gives its native window and backing store back; the
    // next show makes them anew. Nothing while it is shown.
    void releaseNativeWindow();

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Tab goes through the controls in reading order, whatever order they were made in.
    bool focusNextPrevChild(bool next) override;

private:
    std::function<void()> closeHandler_;
    std::function<void(const WindowFrame&)> moveHandler_;
    bool closesOnEscape_ = true;
    QtAlertView alerts_{this};
};

// The controls of the window Tab visits, in reading order: rows from the
// top, each from the left; of a group of radio buttons only the checked one.
// A control marked below comes after the others of its parent.
std::vector<QWidget*> keyboardChain(QWidget& window);

// Tab reaches this control after the others that share its parent, wherever
// it sits: a notice's close button, in its corner, after the notice's link.
void setTabbedLastInItsGroup(QWidget& control);

// Moves a top-level window so that it is centred on its screen.
void setFrameOriginToPositionWindowInCenterOfScreen(QWidget& window);

}  // namespace hw
