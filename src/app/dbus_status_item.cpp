#include "app/dbus_status_item.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

#include "app/dbus_menu_export.h"

namespace hw::sni {

struct Pixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
struct ToolTip {
    QString iconName;
    QList<Pixmap> icon;
    QString title;
    QString description;
};

}  // namespace hw::sni

Q_DECLARE_METATYPE(hw::sni::Pixmap)
Q_DECLARE_METATYPE(hw::sni::ToolTip)

namespace hw::sni {

QDBusArgument& operator<<(QDBusArgument& arg, const Pixmap& p) {
    arg.beginStructure();
    arg << p.width << p.height << p.argb;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, Pixmap& p) {
    arg.beginStructure();
    arg >> p.width >> p.height >> p.argb;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& t) {
    arg.beginStructure();
    arg << t.iconName << t.icon << t.title << t.description;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& t) {
    arg.beginStructure();
    arg >> t.iconName >> t.icon >> t.title >> t.description;
    arg.endStructure();
    return arg;
}

}  // namespace hw::sni

namespace hw {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
constexpr int kRegisterTimeoutMs = 5000;

void registerTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<sni::Pixmap>();
        qDBusRegisterMetaType<QList<sni::Pixmap>>();
        qDBusRegisterMetaType<sni::ToolTip>();
        return true;
    }();
    (void)once;
}

// ARGB32 in network byte order, one entry per size the icon has drawn.
QList<sni::Pixmap> pixmaps(const QIcon& icon) {
    QList<sni::Pixmap> out;
    if (icon.isNull()) return out;
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty()) sizes = {QSize(22, 22)};
    for (const QSize& size : sizes) {
        const QImage image = icon.pixmap(size, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) continue;
        sni::Pixmap p{image.width(), image.height(), QByteArray(image.width() * image.height() * 4, Qt::Uninitialized)};
        auto* to = reinterpret_cast<quint32*>(p.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) *to++ = qToBigEndian<quint32>(row[x]);
        }
        out << p;
    }
    return out;
}

}  // namespace

DBusStatusItem::DBusStatusItem(QMenu* menu, const QString& title)
    : service_(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid())),
      title_(title),
      bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, service_)) {
    registerTypes();
    if (!bus_.isConnected()) return;
    menu_ = std::make_unique<DBusMenuExport>(menu, bus_);
    exported_ = menu_->exported() && bus_.registerVirtualObject(QString::fromLatin1(kPath), this) &&
                bus_.registerService(service_);
}

DBusStatusItem::~DBusStatusItem() {
    bus_.unregisterObject(QString::fromLatin1(kPath));
    bus_.unregisterObject(QString::fromLatin1(DBusMenuExport::kPath));
    menu_.reset();
    // The watcher drops the item once its name is gone.
    bus_.unregisterService(service_);
    QDBusConnection::disconnectFromBus(service_);
}

void DBusStatusItem::setIcon(const QIcon& icon) {
    icon_ = icon;
    emitSignal("NewIcon");
}

void DBusStatusItem::menuChanged() {
    if (menu_) menu_->changed();
}

void DBusStatusItem::registerWithWatcher(std::function<void(bool)> done) {
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    auto* watch = new QDBusPendingCallWatcher(bus_.asyncCall(call, kRegisterTimeoutMs), this);
    QObject::connect(watch, &QDBusPendingCallWatcher::finished, this, [watch, done = std::move(done)] {
        watch->deleteLater();
        if (done) done(!watch->isError());
    });
}

QVariant DBusStatusItem::property(const QString& name) const {
    if (name == QLatin1String("Category")) return QStringLiteral("ApplicationStatus");
    if (name == QLatin1String("Id")) return QStringLiteral("havenway");
    if (name == QLatin1String("Title")) return title_;
    if (name == QLatin1String("Status")) return QStringLiteral("Active");
    if (name == QLatin1String("WindowId")) return 0;
    if (name == QLatin1String("IconThemePath") || name == QLatin1String("IconName") ||
        name == QLatin1String("OverlayIconName") || name == QLatin1String("AttentionIconName") ||
        name == QLatin1String("AttentionMovieName"))
        return QString();
    if (name == QLatin1String("IconPixmap")) return QVariant::fromValue(pixmaps(icon_));
    if (name == QLatin1String("OverlayIconPixmap") || name == QLatin1String("AttentionIconPixmap"))
        return QVariant::fromValue(QList<sni::Pixmap>{});
    if (name == QLatin1String("ToolTip")) return QVariant::fromValue(sni::ToolTip{{}, {}, title_, {}});
    if (name == QLatin1String("ItemIsMenu")) return false;
    if (name == QLatin1String("Menu"))
        return QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(DBusMenuExport::kPath)));
    return {};
}

void DBusStatusItem::emitSignal(const char* name) {
    if (!exported_) return;
    bus_.send(QDBusMessage::createSignal(QString::fromLatin1(kPath), kItemInterface, QString::fromLatin1(name)));
}

QString DBusStatusItem::introspect(const QString&) const {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierItem\">"
        "<property name=\"Category\" type=\"s\" access=\"read\"/>"
        "<property name=\"Id\" type=\"s\" access=\"read\"/>"
        "<property name=\"Title\" type=\"s\" access=\"read\"/>"
        "<property name=\"Status\" type=\"s\" access=\"read\"/>"
        "<property name=\"WindowId\" type=\"i\" access=\"read\"/>"
        "<property name=\"IconThemePath\" type=\"s\" access=\"read\"/>"
        "<property name=\"IconName\" type=\"s\" access=\"read\"/>"
        "<property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
        "<property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>"
        "<property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
        "<property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>"
        "<property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
        "<property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>"
        "<property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>"
        "<property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>"
        "<property name=\"Menu\" type=\"o\" access=\"read\"/>"
        "<method name=\"ContextMenu\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/></method>"
        "<method name=\"Activate\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/></method>"
        "<method name=\"SecondaryActivate\"><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"i\" direction=\"in\"/></method>"
        "<method name=\"Scroll\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/></method>"
        "<signal name=\"NewTitle\"/><signal name=\"NewIcon\"/><signal name=\"NewAttentionIcon\"/>"
        "<signal name=\"NewOverlayIcon\"/><signal name=\"NewToolTip\"/>"
        "<signal name=\"NewStatus\"><arg type=\"s\"/></signal>"
        "</interface>");
}

bool DBusStatusItem::handleMessage(const QDBusMessage& m, const QDBusConnection& c) {
    if (m.type() != QDBusMessage::MethodCallMessage) return false;
    const QString member = m.member();
    const QString sig = m.signature();
    const QVariantList args = m.arguments();
    const QString invalid = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
    if (member == QLatin1String("Introspect"))
        return c.send(m.createReply(QStringLiteral("<node>") + introspect(m.path()) + QStringLiteral("</node>")));
    if (m.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
        if (member == QLatin1String("Get") && sig == QLatin1String("ss")) {
            const QVariant value = property(args.at(1).toString());
            if (!value.isValid()) return c.send(m.createErrorReply(invalid, QStringLiteral("no such property")));
            return c.send(m.createReply(QVariant::fromValue(QDBusVariant(value))));
        }
        if (member == QLatin1String("GetAll") && sig == QLatin1String("s")) {
            QVariantMap all;
            for (const char* name : {"Category", "Id", "Title", "Status", "WindowId", "IconThemePath", "IconName",
                                     "IconPixmap", "OverlayIconName", "OverlayIconPixmap", "AttentionIconName",
                                     "AttentionIconPixmap", "AttentionMovieName", "ToolTip", "ItemIsMenu", "Menu"})
                all.insert(QString::fromLatin1(name), property(QString::fromLatin1(name)));
            return c.send(m.createReply(all));
        }
        return c.send(m.createErrorReply(invalid, QStringLiteral("read-only properties")));
    }
    const bool point = sig == QLatin1String("ii");
    const QPoint at = point ? QPoint(args.at(0).toInt(), args.at(1).toInt()) : QPoint();
    // What the panel asks for happens after the answer, outside the bus's dispatch.
    auto later = [this](std::function<void()> f) {
        QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
    };
    if (member == QLatin1String("Activate") && point) {
        later([this] { if (onActivate) onActivate(); });
        return c.send(m.createReply());
    }
    if (member == QLatin1String("ContextMenu") && point) {
        later([this, at] { if (onContextMenu) onContextMenu(at); });
        return c.send(m.createReply());
    }
    if ((member == QLatin1String("SecondaryActivate") && point) ||
        (member == QLatin1String("Scroll") && sig == QLatin1String("is")))
        return c.send(m.createReply());
    return c.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member));
}

}  // namespace hw
