#pragma once
// A StatusNotifierWatcher of our own with a host registered, served from a
// thread of its own: Qt asks it with blocking calls from the main thread.
#include <atomic>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QStringList>
#include <QThread>

namespace hw::test {

class FakeStatusNotifierWatcher final : public QThread {
public:
    static inline const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString kPath = QStringLiteral("/StatusNotifierWatcher");

    // withHost false: a watcher whose panel registers its host only at registerHost().
    explicit FakeStatusNotifierWatcher(QString address, bool withHost = true)
        : address_(std::move(address)), host_(withHost) {}
    ~FakeStatusNotifierWatcher() override {
        quit();
        wait();
    }

    // True once the watcher owns its name on the bus.
    bool startServing() {
        start();
        ready_.acquire();
        return serving_;
    }
    void registerHost() {
        host_ = true;
        QDBusConnection(QStringLiteral("fake-snw"))
            .send(QDBusMessage::createSignal(kPath, kService, QStringLiteral("StatusNotifierHostRegistered")));
    }
    // The services that registered an item: "service" as given, or the
    // caller's unique name when it gave a path.
    QStringList items() const {
        QMutexLocker lock(&mutex_);
        return items_;
    }

protected:
    void run() override {
        Watcher watcher(*this);
        {
            QDBusConnection bus = QDBusConnection::connectToBus(address_, QStringLiteral("fake-snw"));
            serving_ = bus.isConnected() && bus.registerService(kService) &&
                       bus.registerVirtualObject(kPath, &watcher);
        }
        ready_.release();
        exec();
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-snw"));
    }

private:
    class Watcher final : public QDBusVirtualObject {
    public:
        explicit Watcher(FakeStatusNotifierWatcher& owner) : owner_(owner) {}
        QString introspect(const QString&) const override {
            return QStringLiteral(
                "<interface name=\"org.kde.StatusNotifierWatcher\">"
                "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
                "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
                "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
                "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
                "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
                "</interface>");
        }
        bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override {
            const QString member = m.member();
            if (member == QLatin1String("Introspect"))
                return c.send(m.createReply(QStringLiteral("<node>") + introspect(m.path()) + QStringLiteral("</node>")));
            if (member == QLatin1String("Get")) {
                const QString name = m.arguments().value(1).toString();
                QVariant value;
                if (name == QLatin1String("IsStatusNotifierHostRegistered")) value = owner_.host_.load();
                else if (name == QLatin1String("ProtocolVersion")) value = 0;
                else if (name == QLatin1String("RegisteredStatusNotifierItems")) value = owner_.items();
                else return c.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"), name));
                return c.send(m.createReply(QVariant::fromValue(QDBusVariant(value))));
            }
            if (member == QLatin1String("GetAll")) {
                QVariantMap all{{"IsStatusNotifierHostRegistered", owner_.host_.load()}, {"ProtocolVersion", 0},
                                {"RegisteredStatusNotifierItems", owner_.items()}};
                return c.send(m.createReply(QVariant::fromValue(all)));
            }
            if (member == QLatin1String("RegisterStatusNotifierItem")) {
                QString service = m.arguments().value(0).toString();
                if (service.startsWith('/')) service = m.service();
                {
                    QMutexLocker lock(&owner_.mutex_);
                    owner_.items_ << service;
                }
                return c.send(m.createReply());
            }
            if (member == QLatin1String("RegisterStatusNotifierHost")) return c.send(m.createReply());
            return c.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member));
        }

    private:
        FakeStatusNotifierWatcher& owner_;
    };

    QString address_;
    QSemaphore ready_;
    bool serving_ = false;
    std::atomic<bool> host_;
    mutable QMutex mutex_;
    QStringList items_;
};

}  // namespace hw::test
