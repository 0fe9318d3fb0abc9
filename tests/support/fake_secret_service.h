#pragma once
// A Secret Service whose default collection is locked and whose unlock
// prompt never completes, as when no one ever types the keyring's password:
// served on a private bus from the test's thread. Or, by mode, one that takes
// every call and never answers, or one that answers only after a while that
// it has no keyring yet.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QTimer>
#include <QVariantMap>
#include <memory>

namespace hw::test {

class StuckPromptSecretService final : public QDBusVirtualObject {
public:
    enum class Mode { StuckPrompt, Silent, Late };
    explicit StuckPromptSecretService(Mode mode = Mode::StuckPrompt, int lateMs = 6000) : mode_(mode), lateMs_(lateMs) {}

    static inline const QString kService = QStringLiteral("org.freedesktop.secrets");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/secrets");
    static inline const QString kCollection = QStringLiteral("/org/freedesktop/secrets/collection/login");
    static inline const QString kItem = QStringLiteral("/org/freedesktop/secrets/collection/login/1");
    static inline const QString kPrompt = QStringLiteral("/org/freedesktop/secrets/prompt/1");

    bool serve(const QString& address) {
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("fake-secrets")));
        return bus_->isConnected() && bus_->registerService(kService) &&
               bus_->registerVirtualObject(kPath, this, QDBusConnection::SubPath);
    }
    ~StuckPromptSecretService() override {
        if (bus_) {
            bus_->unregisterObject(kPath, QDBusConnection::UnregisterTree);
            bus_->unregisterService(kService);
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-secrets"));
        }
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override {
        const QString member = m.member();
        ++calls;
        if (mode_ == Mode::Silent) return true;
        if (mode_ == Mode::Late) {
            // "/": no default collection, so the caller keeps its file.
            // Owned by this object and sent on its own connection, so that a late
            // answer neither outlives it nor keeps its bus name taken.
            QTimer::singleShot(lateMs_, this, [this, m] {
                bus_->send(m.member() == QLatin1String("ReadAlias")
                                            ? m.createReply(QVariantList{QVariant::fromValue(QDBusObjectPath("/"))})
                                            : m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), m.member()));
            });
            return true;
        }
        if (member == QLatin1String("Prompt")) {
            ++prompts;  // answered, and then never Completed
            return c.send(m.createReply());
        }
        if (member == QLatin1String("GetAll")) return c.send(m.createReply(QVariantList{properties(m.path())}));
        if (member == QLatin1String("Get")) {
            const QVariantMap all = properties(m.path());
            const QString name = m.arguments().value(1).toString();
            if (!all.contains(name)) return c.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), name));
            return c.send(m.createReply(QVariantList{QVariant::fromValue(QDBusVariant(all.value(name)))}));
        }
        if (member == QLatin1String("ReadAlias")) {
            return c.send(m.createReply(QVariantList{QVariant::fromValue(QDBusObjectPath(kCollection))}));
        }
        if (member == QLatin1String("OpenSession")) {
            if (m.arguments().value(0).toString() != QLatin1String("plain"))
                return c.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.NotSupported"), "plain only"));
            return c.send(m.createReply(QVariantList{QVariant::fromValue(QDBusVariant(QString())),
                                                     QVariant::fromValue(QDBusObjectPath(kPath + "/session/1"))}));
        }
        if (member == QLatin1String("SearchItems")) {
            ++searches;
            return c.send(m.createReply(QVariantList{QVariant::fromValue(QList<QDBusObjectPath>{}),
                                                     QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kItem)})}));
        }
        if (member == QLatin1String("Unlock")) {
            return c.send(m.createReply(QVariantList{QVariant::fromValue(QList<QDBusObjectPath>{}),
                                                     QVariant::fromValue(QDBusObjectPath(kPrompt))}));
        }
        return c.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member));
    }

    int searches = 0;
    int prompts = 0;
    int calls = 0;

private:
    QVariantMap properties(const QString& path) const {
        if (path == kPath) return {{QStringLiteral("Collections"), QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kCollection)})}};
        if (path == kCollection)
            return {{QStringLiteral("Locked"), true},
                    {QStringLiteral("Label"), QStringLiteral("Login")},
                    {QStringLiteral("Items"), QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kItem)})}};
        if (path == kItem) return {{QStringLiteral("Locked"), true}, {QStringLiteral("Label"), QStringLiteral("Havenway")}};
        return {};
    }

    const Mode mode_;
    const int lateMs_;
    std::unique_ptr<QDBusConnection> bus_;
};

}  // namespace hw::test
