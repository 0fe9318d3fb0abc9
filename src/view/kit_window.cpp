#include "view/kit_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QScreen>

#include "view/kit_geometry.h"

namespace hw {

KitWindow::KitWindow(QWidget* parent) : QWidget(parent, Qt::Window) {}

KitWindow::~KitWindow() = default;

void KitWindow::setTitle(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }

std::string KitWindow::title() const { return windowTitle().toStdString(); }

void KitWindow::show() {
    const bool wasShown = QWidget::isVisible();
    // A window that cannot grow offers no maximize button: the window
    // manager hears it from the size hints and from the decoration hints.
    const Qt::WindowFlags flags = windowFlags();
    if (minimumSize() == maximumSize() && windowType() == Qt::Window &&
        !(flags & (Qt::CustomizeWindowHint | Qt::FramelessWindowHint)) && (flags & Qt::WindowMaximizeButtonHint)) {
        // Changing flags re-creates a shown window; it must stay where it is.
        const QPoint at = pos();
        setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
        if (wasShown) move(at);
    }
    QWidget::show();
    raise();
    activateWindow();
    // The map goes to the display now rather than when the event loop next
    // runs: the launch goes on after its first window with work that draws nothing.
    if (!wasShown) QGuiApplication::sync();
}

void KitWindow::orderOut() { QWidget::hide(); }

void KitWindow::close() { QWidget::close(); }

bool KitWindow::isVisible() const { return QWidget::isVisible(); }

void setFrameOriginToPositionWindowInCenterOfScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (!screen) return;
    // By the content's size: the frame's is only known once the window has
    // been shown, and a window that grew a title bar between two openings
    // would otherwise stand higher at each one.
    window.move(centeredOrigin(window.size(), screen->availableGeometry()));
}

void KitWindow::center() { setFrameOriginToPositionWindowInCenterOfScreen(*this); }

WindowFrame KitWindow::frame() const {
    const QRect g = geometry();
    return {double(g.x()), double(g.y()), double(g.width()), double(g.height())};
}

void KitWindow::setFrame(const WindowFrame& frame) {
    QRect wanted = QRectF(frame.x, frame.y, frame.width, frame.height).toRect();
    // A frame placed beside another window (the locations window left of the
    // main one) or remembered from another screen must stay where it can be
    // seen and reached: a window beyond the screen's edge is lost to the user.
    const QScreen* on = QGuiApplication::screenAt(wanted.center());
    if (!on) on = screen();
    if (on) wanted = keptInArea(wanted, on->availableGeometry());
    setGeometry(wanted);
}

void KitWindow::closeEvent(QCloseEvent* event) {
    if (closeHandler_) {
        auto handler = closeHandler_;
        handler();
    }
    event->accept();
}

void KitWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (moveHandler_ && QWidget::isVisible()) moveHandler_(frame());
}

}  // namespace hw
