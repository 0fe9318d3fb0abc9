#include "platform/qt/dbus_user_notification_center.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <optional>

#include "platform/log.h"

namespace hw {
namespace {

constexpr char kLog[] = "UserNotifications";
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
const QString kButtonAction = QStringLiteral("action");
// The icon theme's name for the application's icon, as its desktop entry says.
const QString kIconName = QStringLiteral("havenway");
constexpr int kImageSide = 64;

// The application's window icon as the notification protocol's image-data hint
// (iiibiiay): daemons that cannot find the themed icon still show it.
std::optional<QDBusArgument> iconImage() {
    const QIcon icon = QGuiApplication::windowIcon();
    if (icon.isNull()) return std::nullopt;
    const QImage image =
        icon.pixmap(QSize(kImageSide, kImageSide)).toImage().convertToFormat(QImage::Format_RGBA8888);
    if (image.isNull()) return std::nullopt;
    QDBusArgument data;
    data.beginStructure();
    data << image.width() << image.height() << int(image.bytesPerLine()) << true << 8 << 4
         << QByteArray(reinterpret_cast<const char*>(image.constBits()), static_cast<int>(image.sizeInBytes()));
    data.endStructure();
    return data;
}

}  // namespace

DBusUserNotificationCenter::DBusUserNotificationCenter(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void DBusUserNotificationCenter::listen() {
    if (listening_) return;
    listening_ = true;
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
}

void DBusUserNotificationCenter::setActivationHandler(ActivationHandler handler) {
    handler_ = std::move(handler);
    listen();
}

DBusUserNotificationCenter::~DBusUserNotificationCenter() {
    for (QDBusPendingCallWatcher* w : closing_) {
        w->waitForFinished();
        delete w;
    }
}

void DBusUserNotificationCenter::deliver(const Notification& n) {
    listen();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QStringList actions{kDefaultAction, QString()};
    if (!n.actionButtonTitle.empty()) actions << kButtonAction << QString::fromStdString(n.actionButtonTitle);
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("havenway")}};
    if (const auto image = iconImage()) hints.insert(QStringLiteral("image-data"), QVariant::fromValue(*image));
    call << QStringLiteral("Havenway") << uint(0) << kIconName << QString::fromStdString(n.title)
         << QString::fromStdString(n.informativeText) << actions << hints << int(-1);
    shown_[n.identifier] = Shown{n, std::nullopt, false};
    const std::uint64_t identifier = n.identifier;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, identifier](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<uint> reply = *w;
        auto it = shown_.find(identifier);
        if (reply.isError()) {
            log::warning(kLog, "banner not shown: " + reply.error().message().toStdString());
            if (it != shown_.end()) shown_.erase(it);
            return;
        }
        if (it == shown_.end()) return;
        log::info(kLog, "NSUserNotification didDeliverNotification -- " + it->second.notification.title);
        it->second.daemonId = reply.value();
        if (it->second.closeWhenKnown) {
            close(reply.value());
            shown_.erase(it);
        }
    });
}

void DBusUserNotificationCenter::close(uint daemonId) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
    call << daemonId;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCloseTimeoutMs), this);
    closing_.append(watcher);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        closing_.removeOne(w);
        w->deleteLater();
    });
}

void DBusUserNotificationCenter::removeDeliveredNotification(std::uint64_t identifier) {
    auto it = shown_.find(identifier);
    if (it == shown_.end()) return;
    if (it->second.daemonId) {
        close(*it->second.daemonId);
        shown_.erase(it);
    } else {
        it->second.closeWhenKnown = true;
    }
}

void DBusUserNotificationCenter::removeAllDeliveredNotifications() {
    std::vector<std::uint64_t> all;
    for (const auto& [identifier, shown] : shown_) all.push_back(identifier);
    for (auto identifier : all) removeDeliveredNotification(identifier);
}

std::map<std::uint64_t, DBusUserNotificationCenter::Shown>::iterator DBusUserNotificationCenter::findByDaemonId(uint id) {
    for (auto it = shown_.begin(); it != shown_.end(); ++it)
        if (it->second.daemonId == id) return it;
    return shown_.end();
}

void DBusUserNotificationCenter::onActionInvoked(uint id, const QString& actionKey) {
    auto it = findByDaemonId(id);
    // Other applications' banners share the signal.
    if (it == shown_.end()) return;
    const Notification n = it->second.notification;
    const Activation how = actionKey == kButtonAction ? Activation::actionButtonClicked : Activation::contentsClicked;
    if (handler_) handler_(n, how);
}

void DBusUserNotificationCenter::onNotificationClosed(uint id, uint) {
    auto it = findByDaemonId(id);
    if (it != shown_.end()) shown_.erase(it);
}

}  // namespace hw
