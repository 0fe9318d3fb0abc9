#include "app/last_window_close_guard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QWidget>

#include "view/kit_window.h"

namespace hw {
namespace {

bool staysOnScreen(const QWidget* w) {
    const Qt::WindowType type = w->windowType();
    // An XEmbed tray icon is a top-level window of ours that the window
    // manager never sees: it is no window the user could come back to.
    if (w->windowFlags().testFlag(Qt::BypassWindowManagerHint)) return false;
    return w->isVisible() && !w->isMinimized() && (type == Qt::Window || type == Qt::Dialog);
}

}  // namespace

LastWindowCloseGuard::LastWindowCloseGuard(std::function<bool()> mayClose,
                                           std::function<QWidget*(QWidget*)> companion)
    : mayClose_(std::move(mayClose)), companion_(std::move(companion)) {
    QApplication::instance()->installEventFilter(this);
    // Escape is the user's close too.
    KitWindow::setUserCloseCheck([this](QWidget& closing) { return allows(closing); });
}

LastWindowCloseGuard::~LastWindowCloseGuard() {
    KitWindow::setUserCloseCheck(nullptr);
    if (QApplication::instance()) QApplication::instance()->removeEventFilter(this);
}

bool LastWindowCloseGuard::allows(QWidget& closing) {
    if (!closing.isWindow() || !staysOnScreen(&closing)) return true;
    QWidget* along = companion_ ? companion_(&closing) : nullptr;
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w != &closing && w != along && staysOnScreen(w)) return true;
    return !mayClose_ || mayClose_();
}

bool LastWindowCloseGuard::eventFilter(QObject* watched, QEvent* event) {
    // Closes the application makes itself are not the user's.
    if (event->type() != QEvent::Close || !event->spontaneous() || !watched->isWidgetType()) return false;
    if (allows(*static_cast<QWidget*>(watched))) return false;
    event->ignore();
    return true;
}

}  // namespace hw
