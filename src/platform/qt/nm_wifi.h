#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include <QDBusConnection>
#include <QString>

#include "platform/wifi.h"

namespace hw {

class NetworkManagerWatch;

// Wi-Fi through NetworkManager on the system bus. Where NetworkManager does
// not run (or the bus is gone), is still starting, or answers with a type it
// does not use, the current network is unknown and scans are empty.
// Calls block (each D-Bus call at most two seconds, a scan at most ten) and
// may come from any thread.
class NetworkManagerWiFi final : public WiFiProvider {
public:
    // Tests pass the address of a private bus; empty means the system bus.
    explicit NetworkManagerWiFi(const QString& busAddress = {});
    ~NetworkManagerWiFi() override;

    WiFiLook currentNetwork() override;
    WiFiScan scan() override;
    // Follows NetworkManager's signals and its name on the bus; call on a
    // thread with an event loop (the main one): `changed` runs there.
    bool startWatch(std::function<void()> changed) override;
    void stopWatch() override;

private:
    // Connected at the first call, not at launch: nothing asks before the
    // first window is up.
    QDBusConnection& bus();

    QString busAddress_;
    std::once_flag connected_;
    std::optional<QDBusConnection> bus_;
    QString connectionName_;
    std::unique_ptr<NetworkManagerWatch> watch_;
    // A reply of the wrong type is told once, not at every look.
    std::atomic<bool> wrongTypeLogged_{false};
};

}  // namespace hw
