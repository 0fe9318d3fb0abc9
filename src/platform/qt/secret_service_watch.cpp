#include "platform/qt/secret_service_watch.h"

namespace hw {

SecretServiceWatch::SecretServiceWatch(const QDBusConnection& bus, std::function<void()> changed)
    : changed_(std::move(changed)) {
    if (!bus.isConnected()) return;
    QDBusConnection(bus).connect(QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
                                 QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("CollectionChanged"),
                                 this, SLOT(collectionChanged(QDBusObjectPath)));
}

void SecretServiceWatch::collectionChanged(const QDBusObjectPath&) {
    if (changed_) changed_();
}

}  // namespace hw
