#include "view/havenway_application.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QProxyStyle>
#include <QStyleFactory>

#include "core/global_constants.h"
#include "platform/log.h"
#include "view/keyboard_focus_ring.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"

namespace hw {

namespace {

// Fusion, whose line-edit clear button is read with its format named: read
// as the style reads it, the format is guessed by loading every image
// plugin installed, and they stay loaded for the application's life.
class KitStyle final : public QProxyStyle {
public:
    KitStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
        if (which != SP_LineEditClearButton) return QProxyStyle::standardIcon(which, option, widget);
        if (clear_.isNull()) {
            for (const char* size : {"16", "32"}) {
                QFile file(QStringLiteral(":/qt-project.org/styles/commonstyle/images/cleartext-%1.png").arg(QLatin1String(size)));
                if (!file.open(QIODevice::ReadOnly)) continue;
                QImageReader reader(&file, "png");
                reader.setAutoDetectImageFormat(false);
                if (const QImage image = reader.read(); !image.isNull()) clear_.addPixmap(QPixmap::fromImage(image));
            }
        }
        return clear_.isNull() ? QProxyStyle::standardIcon(which, option, widget) : clear_;
    }
    // A link the kit's ring goes round by its words has no frame of the
    // style's own across its whole row.
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_FrameFocusRect && widget && focusRingHugsText(*widget)) return;
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

private:
    mutable QIcon clear_;
};

}  // namespace

void HavenwayApplication::prepare() {
    // The embedded web page shares GL contexts; this only counts before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

HavenwayApplication::HavenwayApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setStyle(new KitStyle);
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
