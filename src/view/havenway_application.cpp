#include "view/havenway_application.h"

#include <QStyleFactory>

#include "core/global_constants.h"
#include "platform/log.h"
#include "view/keyboard_focus_ring.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"

namespace hw {

void HavenwayApplication::prepare() {
    // The embedded web page shares GL contexts; this only counts before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

HavenwayApplication::HavenwayApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // The tray keeps the application alive with every window closed.
    setQuitOnLastWindowClosed(false);
    setDesktopFileName(QStringLiteral("havenway"));
    // Dialogs without a title of their own take this one.
    setApplicationDisplayName(QString::fromUtf8(GlobalConstants::bundleName));
    // Standard controls (alerts, buttons) in the windows' own type.
    setFont(latoFont(400, 13));
    // Every window's title bar, task bar entry and Alt+Tab entry.
    setWindowIcon(kitApplicationIcon());
    new KeyboardFocusRing(this);
}

bool HavenwayApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        if (exceptionHandler_) {
            exceptionHandler_(e);
        } else {
            log::error("HavenwayApplication", std::string("exception in an event handler: ") + e.what());
        }
    }
    return false;
}

}  // namespace hw
