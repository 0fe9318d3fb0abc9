#include "platform/qt/nm_wifi.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QUuid>
#include <QVariantMap>
#include <chrono>
#include <thread>

#include "platform/log.h"
#include "platform/wifi_security.h"

namespace hw {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kRoot = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kDevice = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kWireless = QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless");
const QString kAccessPoint = QStringLiteral("org.freedesktop.NetworkManager.AccessPoint");
constexpr int kCallTimeoutMs = 2000;
constexpr int kScanWaitMs = 10000;
constexpr std::uint32_t kDeviceTypeWifi = 2;
constexpr std::uint32_t kDeviceStateActivated = 100;

class Bus {
public:
    explicit Bus(QDBusConnection& c) : c_(c) {}

    bool hasNetworkManager() {
        if (!c_.isConnected()) return false;
        // A plain call rather than the connection's interface object, which
        // belongs to the thread that made it.
        auto msg = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        msg.setArguments({kService});
        auto reply = send(msg);
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() && reply.arguments().at(0).toBool();
    }

    std::optional<QList<QVariant>> call(const QString& path, const QString& iface, const QString& method,
                                        const QList<QVariant>& args = {}) {
        auto msg = QDBusMessage::createMethodCall(kService, path, iface, method);
        msg.setArguments(args);
        auto reply = send(msg);
        if (reply.type() != QDBusMessage::ReplyMessage) return std::nullopt;
        return reply.arguments();
    }

    std::optional<QVariant> property(const QString& path, const QString& iface, const QString& name) {
        auto r = call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), {iface, name});
        if (!r || r->isEmpty()) return std::nullopt;
        return r->at(0).value<QDBusVariant>().variant();
    }

    std::uint32_t uintProperty(const QString& path, const QString& iface, const QString& name) {
        auto v = property(path, iface, name);
        return v ? v->toUInt() : 0;
    }

    QString pathProperty(const QString& path, const QString& iface, const QString& name) {
        auto v = property(path, iface, name);
        return v ? v->value<QDBusObjectPath>().path() : QString();
    }

    QList<QDBusObjectPath> paths(const QString& path, const QString& iface, const QString& method) {
        auto r = call(path, iface, method);
        if (!r || r->isEmpty()) return {};
        const auto& v = r->at(0);
        if (v.canConvert<QDBusArgument>()) return qdbus_cast<QList<QDBusObjectPath>>(v.value<QDBusArgument>());
        return v.value<QList<QDBusObjectPath>>();
    }

    // The Wi-Fi device to use: the first activated one, else the first one.
    QString wifiDevice() {
        QString first;
        for (const auto& d : paths(kRoot, kService, QStringLiteral("GetDevices"))) {
            if (uintProperty(d.path(), kDevice, QStringLiteral("DeviceType")) != kDeviceTypeWifi) continue;
            if (uintProperty(d.path(), kDevice, QStringLiteral("State")) == kDeviceStateActivated) return d.path();
            if (first.isEmpty()) first = d.path();
        }
        return first;
    }

    std::optional<qint64> lastScan(const QString& device) {
        auto v = property(device, kWireless, QStringLiteral("LastScan"));
        if (!v) return std::nullopt;
        return v->toLongLong();
    }

    bool timedOut() const { return timedOut_; }
    // Some call went unanswered or answered an error.
    bool erred() const { return erred_; }

private:
    // After one call goes unanswered the rest would too: each would cost the
    // whole timeout, and a scan asks three per access point.
    QDBusMessage send(const QDBusMessage& msg) {
        if (timedOut_) return msg.createErrorReply(QDBusError::NoReply, QString());
        auto reply = c_.call(msg, QDBus::Block, kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage) erred_ = true;
        if (reply.type() == QDBusMessage::ErrorMessage) {
            const auto type = QDBusError(reply).type();
            timedOut_ = type == QDBusError::NoReply || type == QDBusError::Timeout;
        }
        return reply;
    }

    QDBusConnection& c_;
    bool timedOut_ = false;
    bool erred_ = false;
};

bool validPath(const QString& p) { return !p.isEmpty() && p != QStringLiteral("/"); }

}  // namespace

NetworkManagerWiFi::NetworkManagerWiFi(const QString& busAddress) : busAddress_(busAddress) {}

NetworkManagerWiFi::~NetworkManagerWiFi() {
    if (!connectionName_.isEmpty()) {
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    }
}

QDBusConnection& NetworkManagerWiFi::bus() {
    std::call_once(connected_, [this] {
        if (busAddress_.isEmpty()) {
            bus_.emplace(QDBusConnection::systemBus());
            return;
        }
        connectionName_ = QStringLiteral("havenway-nm-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        bus_.emplace(QDBusConnection::connectToBus(busAddress_, connectionName_));
    });
    return *bus_;
}

WiFiLook NetworkManagerWiFi::currentNetwork() {
    // Without an answer nothing can be said of the network: a missing or
    // failing NetworkManager is no sign of a safe one.
    const WiFiLook unknown{false, std::nullopt};
    Bus bus(this->bus());
    if (!bus.hasNetworkManager()) return unknown;
    auto device = bus.wifiDevice();
    if (bus.erred()) return unknown;
    if (device.isEmpty()) return {};
    const auto state = bus.uintProperty(device, kDevice, QStringLiteral("State"));
    if (bus.erred()) return unknown;
    if (state != kDeviceStateActivated) return {};
    auto ap = bus.pathProperty(device, kWireless, QStringLiteral("ActiveAccessPoint"));
    if (bus.erred()) return unknown;
    if (!validPath(ap)) return {};
    auto ssid = bus.property(ap, kAccessPoint, QStringLiteral("Ssid"));
    auto bssid = bus.property(ap, kAccessPoint, QStringLiteral("HwAddress"));
    WiFiNetwork n;
    n.security = securityFromAccessPointFlags(bus.uintProperty(ap, kAccessPoint, QStringLiteral("Flags")),
                                              bus.uintProperty(ap, kAccessPoint, QStringLiteral("WpaFlags")),
                                              bus.uintProperty(ap, kAccessPoint, QStringLiteral("RsnFlags")));
    // A flag that did not come would read as an open network.
    if (bus.erred() || !ssid || !bssid) return unknown;
    auto raw = ssid->toByteArray();
    n.ssid.assign(raw.constData(), static_cast<std::size_t>(raw.size()));
    n.bssid = normalizedBSSID(bssid->toString().toStdString());
    return {true, n};
}

WiFiScan NetworkManagerWiFi::scan() {
    Bus bus(this->bus());
    if (!bus.hasNetworkManager()) return {{}, bus.timedOut()};
    auto device = bus.wifiDevice();
    if (device.isEmpty()) return {{}, bus.timedOut()};
    auto before = bus.lastScan(device);
    // NetworkManager refuses a scan right after another; its list is fresh then.
    if (bus.call(device, kWireless, QStringLiteral("RequestScan"), {QVariant::fromValue(QVariantMap())}) && before) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < kScanWaitMs) {
            auto now = bus.lastScan(device);
            if (!now || *now != *before) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    } else if (!bus.timedOut()) {
        log::info("wifi", "scan not started; using the networks last seen");
    }
    WiFiScan found;
    for (const auto& ap : bus.paths(device, kWireless, QStringLiteral("GetAllAccessPoints"))) {
        WiFiScanEntry e;
        auto ssid = bus.property(ap.path(), kAccessPoint, QStringLiteral("Ssid"));
        auto bssid = bus.property(ap.path(), kAccessPoint, QStringLiteral("HwAddress"));
        if (bus.timedOut()) break;
        if (ssid && !ssid->toByteArray().isEmpty()) {
            auto raw = ssid->toByteArray();
            e.ssid = std::string(raw.constData(), static_cast<std::size_t>(raw.size()));
        }
        if (bssid && !bssid->toString().isEmpty()) e.bssid = normalizedBSSID(bssid->toString().toStdString());
        found.networks.push_back(std::move(e));
    }
    found.timedOut = bus.timedOut();
    return found;
}

}  // namespace hw
