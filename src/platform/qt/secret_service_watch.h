#pragma once
#include <QObject>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusObjectPath>
#include <functional>

namespace hw {

// Tells when the Secret Service reports a collection changed (unlocked,
// among others), so a read that met a locked keyring can be made again.
// Watching costs no call to the service itself.
class SecretServiceWatch final : public QObject {
    Q_OBJECT
public:
    SecretServiceWatch(const QDBusConnection& bus, std::function<void()> changed);

private slots:
    void collectionChanged(const QDBusObjectPath& collection);

private:
    std::function<void()> changed_;
};

}  // namespace hw
