#include "platform/qt/secret_service_probe.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusObjectPath>

namespace hw {

SecretServiceAnswer askSecretService() { return askSecretService(QDBusConnection::sessionBus()); }

SecretServiceAnswer askSecretService(const QDBusConnection& bus, int timeoutMs) {
    using Kind = SecretServiceAnswer::Kind;
    if (!bus.isConnected()) return {Kind::NoService, "no session bus: " + bus.lastError().message().toStdString()};
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
                                       QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("ReadAlias"));
    call << QStringLiteral("default");
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) return {Kind::NoService, reply.errorMessage().toStdString()};
    const QList<QVariant> arguments = reply.arguments();
    if (arguments.size() != 1 || arguments.front().metaType() != QMetaType::fromType<QDBusObjectPath>())
        return {Kind::NoService, "ReadAlias answered something other than an object path"};
    // "/" stands for no collection: a keyring not yet made.
    if (arguments.front().value<QDBusObjectPath>().path() == QStringLiteral("/")) return {Kind::NoDefaultCollection, ""};
    return {Kind::Ready, ""};
}

}  // namespace hw
