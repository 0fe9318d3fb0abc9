#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include <QDBusConnection>
#include <QList>
#include <QObject>

#include "platform/user_notification_center.h"

class QDBusPendingCallWatcher;

namespace hw {

// Banners through the desktop's org.freedesktop.Notifications service. Every
// call is asynchronous, so a slow or absent daemon never blocks; each banner
// gets its own id from the daemon, so removing one closes only that one.
class DBusUserNotificationCenter final : public QObject, public UserNotificationCenter {
    Q_OBJECT
public:
    static constexpr int kCloseTimeoutMs = 500;

    explicit DBusUserNotificationCenter(QDBusConnection bus = QDBusConnection::sessionBus(),
                                        QObject* parent = nullptr);
    // Waits, within the close timeout, for the closes still on their way:
    // banners must not outlive the application.
    ~DBusUserNotificationCenter() override;

    void deliver(const Notification& notification) override;
    void removeAllDeliveredNotifications() override;
    void removeDeliveredNotification(std::uint64_t identifier) override;
    void setActivationHandler(ActivationHandler handler) override;

private slots:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Shown {
        Notification notification;
        // Nothing until the daemon answered Notify.
        std::optional<uint> daemonId;
        bool closeWhenKnown = false;
    };
    // The daemon's signals are subscribed to once something is shown or
    // listened for: each subscription is a round trip to the bus.
    void listen();
    void close(uint daemonId);
    std::map<std::uint64_t, Shown>::iterator findByDaemonId(uint id);

    QDBusConnection bus_;
    bool listening_ = false;
    ActivationHandler handler_;
    std::map<std::uint64_t, Shown> shown_;
    QList<QDBusPendingCallWatcher*> closing_;
};

}  // namespace hw
