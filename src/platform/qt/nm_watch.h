#pragma once
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace hw {

// NetworkManager's announcements that change which Wi-Fi the machine is on:
// the primary connection, a device's state, the Wi-Fi's active access point,
// NetworkManager coming onto the bus or leaving it. Lives on the thread that
// makes it, and tells `changed` there.
class NetworkManagerWatch final : public QObject {
    Q_OBJECT
public:
    NetworkManagerWatch(QDBusConnection bus, std::function<void()> changed);
    ~NetworkManagerWatch() override;

    // False when the bus is not there, or refused any subscription.
    bool subscribed() const { return subscribed_; }

private slots:
    void onPropertiesChanged(const QDBusMessage& message);
    void onOwnerChanged();

private:
    QDBusConnection bus_;
    std::function<void()> changed_;
    std::unique_ptr<QDBusServiceWatcher> owner_;
    bool subscribed_ = false;
};

}  // namespace hw
