#pragma once
// A desktop notification service of our own, served on a private bus from the
// test's thread: records Notify and CloseNotification, lists what is shown
// and emits the daemon's signals on demand.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>
#include <map>
#include <memory>
#include <vector>

namespace hw::test {

class FakeNotificationDaemon final : public QDBusVirtualObject {
public:
    static inline const QString kService = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

    struct Shown {
        uint id = 0;
        QString appName;
        uint replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
    };

    // Serves on its own connection to the bus at the address.
    bool serve(const QString& address) {
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("fake-notify")));
        return bus_->isConnected() && bus_->registerService(kService) &&
               bus_->registerVirtualObject(kPath, this);
    }
    ~FakeNotificationDaemon() override {
        if (bus_) {
            bus_->unregisterObject(kPath);
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-notify"));
        }
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override {
        const auto args = m.arguments();
        if (m.member() == QLatin1String("Notify")) {
            Shown s;
            s.id = nextId_++;
            s.appName = args.value(0).toString();
            s.replacesId = args.value(1).toUInt();
            s.appIcon = args.value(2).toString();
            s.summary = args.value(3).toString();
            s.body = args.value(4).toString();
            s.actions = args.value(5).toStringList();
            s.hints = qdbus_cast<QVariantMap>(args.value(6));
            s.timeout = args.value(7).toInt();
            notified.push_back(s);
            shown[s.id] = s;
            return c.send(m.createReply(QVariantList{s.id}));
        }
        if (m.member() == QLatin1String("CloseNotification")) {
            const uint id = args.value(0).toUInt();
            closed.push_back(id);
            if (shown.erase(id)) emitSignal(QStringLiteral("NotificationClosed"), {id, uint(3)});
            return c.send(m.createReply());
        }
        if (m.member() == QLatin1String("GetCapabilities"))
            return c.send(m.createReply(QVariantList{QStringList{"actions", "body"}}));
        return c.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), m.member()));
    }

    // A click: "default" on the banner, "action" on its button.
    void invoke(uint id, const QString& key) { emitSignal(QStringLiteral("ActionInvoked"), {id, key}); }
    // The user dismissed it.
    void dismiss(uint id) {
        shown.erase(id);
        emitSignal(QStringLiteral("NotificationClosed"), {id, uint(2)});
    }

    std::vector<Shown> notified;
    std::map<uint, Shown> shown;
    std::vector<uint> closed;

private:
    void emitSignal(const QString& name, const QVariantList& args) {
        QDBusMessage s = QDBusMessage::createSignal(kPath, kService, name);
        s.setArguments(args);
        bus_->send(s);
    }
    std::unique_ptr<QDBusConnection> bus_;
    uint nextId_ = 1;
};

}  // namespace hw::test
