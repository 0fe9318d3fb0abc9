#pragma once
#include <QDBusConnection>
#include <QObject>

#include "platform/sleep_watch.h"

namespace hw {

// logind's PrepareForSleep and PrepareForShutdown on the system bus (or the
// bus given, in tests).
class LogindSleepWatch final : public QObject, public SleepWatch {
    Q_OBJECT
public:
    explicit LogindSleepWatch(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);
    bool subscribe(Handlers handlers) override;

private slots:
    void onPrepareForSleep(bool start);
    void onPrepareForShutdown(bool start);

private:
    QDBusConnection bus_;
    Handlers handlers_;
};

}  // namespace hw
