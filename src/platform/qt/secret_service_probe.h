#pragma once
#include <QtDBus/QDBusConnection>

#include <functional>

#include "platform/secret_store_factory.h"

namespace hw {

// Asks the session bus over QtDBus whether a Secret Service answers and names
// a default collection; D-Bus may start the service first. Blocks for at most
// timeoutMs: call it off the main thread, once the application object exists.
SecretServiceAnswer askSecretService(const QDBusConnection& bus, int timeoutMs = 10000);
// The same on the session bus.
SecretServiceAnswer askSecretService();
// The same without blocking: done runs on the calling thread's event loop
// once the service answers, or the wait ends.
void askSecretServiceLater(const QDBusConnection& bus, int timeoutMs, std::function<void(SecretServiceAnswer)> done);

}  // namespace hw
