#include "platform/qt/logind_sleep_watch.h"

namespace hw {
namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
}  // namespace

LogindSleepWatch::LogindSleepWatch(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

bool LogindSleepWatch::subscribe(Handlers handlers) {
    if (!bus_.isConnected()) return false;
    handlers_ = std::move(handlers);
    const bool sleep = bus_.connect(kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), this,
                                    SLOT(onPrepareForSleep(bool)));
    const bool shutdown = bus_.connect(kService, kPath, kInterface, QStringLiteral("PrepareForShutdown"), this,
                                       SLOT(onPrepareForShutdown(bool)));
    return sleep && shutdown;
}

void LogindSleepWatch::onPrepareForSleep(bool start) {
    const auto& handler = start ? handlers_.willSleep : handlers_.didWake;
    if (handler) handler();
}

void LogindSleepWatch::onPrepareForShutdown(bool start) {
    if (start && handlers_.willShutDown) handlers_.willShutDown();
}

}  // namespace hw
