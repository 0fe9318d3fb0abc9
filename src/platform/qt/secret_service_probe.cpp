#include "platform/qt/secret_service_probe.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>

namespace hw {

SecretServiceAnswer askSecretService() { return askSecretService(QDBusConnection::sessionBus()); }

namespace {

QDBusMessage readDefaultAlias() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
                                       QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("ReadAlias"));
    call << QStringLiteral("default");
    return call;
}

SecretServiceAnswer fromReply(const QDBusMessage& reply) {
    using Kind = SecretServiceAnswer::Kind;
    if (reply.type() != QDBusMessage::ReplyMessage) return {Kind::NoService, reply.errorMessage().toStdString()};
    const QList<QVariant> arguments = reply.arguments();
    if (arguments.size() != 1 || arguments.front().metaType() != QMetaType::fromType<QDBusObjectPath>())
        return {Kind::NoService, "ReadAlias answered something other than an object path"};
    // "/" stands for no collection: a keyring not yet made.
    if (arguments.front().value<QDBusObjectPath>().path() == QStringLiteral("/")) return {Kind::NoDefaultCollection, ""};
    return {Kind::Ready, ""};
}

}  // namespace

SecretServiceAnswer askSecretService(const QDBusConnection& bus, int timeoutMs) {
    if (!bus.isConnected())
        return {SecretServiceAnswer::Kind::NoService, "no session bus: " + bus.lastError().message().toStdString()};
    return fromReply(bus.call(readDefaultAlias(), QDBus::Block, timeoutMs));
}

void askSecretServiceLater(const QDBusConnection& bus, int timeoutMs, std::function<void(SecretServiceAnswer)> done) {
    if (!bus.isConnected()) {
        done({SecretServiceAnswer::Kind::NoService, "no session bus: " + bus.lastError().message().toStdString()});
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(readDefaultAlias(), timeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(fromReply(watcher->reply()));
    });
}

}  // namespace hw
