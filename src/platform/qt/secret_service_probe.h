#pragma once
#include <QtDBus/QDBusConnection>

#include "platform/secret_store_factory.h"

namespace hw {

// Asks the session bus over QtDBus whether a Secret Service answers and names
// a default collection; D-Bus may start the service first. Blocks for at most
// timeoutMs: call it off the main thread, once the application object exists.
SecretServiceAnswer askSecretService(const QDBusConnection& bus, int timeoutMs = 10000);
// The same on the session bus.
SecretServiceAnswer askSecretService();

}  // namespace hw
