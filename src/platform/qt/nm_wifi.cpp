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
#include "platform/qt/nm_watch.h"
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
    Bus(QDBusConnection& c, std::atomic<bool>& wrongTypeLogged) : c_(c), wrongTypeLogged_(wrongTypeLogged) {}

    // Whether NetworkManager owns its name; none when the bus did not say.
    std::optional<bool> hasNetworkManager() {
        if (!c_.isConnected()) return std::nullopt;
        // A plain call rather than the connection's interface object, which
        // belongs to the thread that made it.
        auto msg = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        msg.setArguments({kService});
        auto reply = send(msg);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
            reply.arguments().at(0).metaType() != QMetaType::fromType<bool>())
            return std::nullopt;
        return reply.arguments().at(0).toBool();
    }

    // optional: an error reply (a property this NetworkManager lacks) is
    // no failure of the look; silence still is.
    std::optional<QList<QVariant>> call(const QString& path, const QString& iface, const QString& method,
                                        const QList<QVariant>& args = {}, bool optional = false) {
        auto msg = QDBusMessage::createMethodCall(kService, path, iface, method);
        msg.setArguments(args);
        auto reply = send(msg, optional);
        if (reply.type() != QDBusMessage::ReplyMessage) return std::nullopt;
        return reply.arguments();
    }

    std::optional<QVariant> property(const QString& path, const QString& iface, const QString& name,
                                     bool optional = false) {
        auto r = call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), {iface, name}, optional);
        if (!r) return std::nullopt;
        if (r->size() != 1 || r->at(0).metaType() != QMetaType::fromType<QDBusVariant>()) {
            wrongType(name);
            return std::nullopt;
        }
        return r->at(0).value<QDBusVariant>().variant();
    }

    // The property if it has NetworkManager's own type: any other reads as
    // no answer, never as a value (an object path sent as a string is not
    // "no access point").
    template <typename T>
    std::optional<T> typed(const QString& path, const QString& iface, const QString& name, bool optional = false) {
        auto v = property(path, iface, name, optional);
        if (!v) return std::nullopt;
        if (v->metaType() != QMetaType::fromType<T>()) {
            wrongType(name);
            return std::nullopt;
        }
        return v->value<T>();
    }

    std::optional<QList<QDBusObjectPath>> paths(const QString& path, const QString& iface, const QString& method) {
        auto r = call(path, iface, method);
        if (!r) return std::nullopt;
        if (r->size() == 1) {
            const auto& v = r->at(0);
            if (v.metaType() == QMetaType::fromType<QList<QDBusObjectPath>>()) return v.value<QList<QDBusObjectPath>>();
            if (v.metaType() == QMetaType::fromType<QDBusArgument>()) {
                const auto arg = v.value<QDBusArgument>();
                if (arg.currentSignature() == QLatin1String("ao")) return qdbus_cast<QList<QDBusObjectPath>>(arg);
            }
        }
        wrongType(method);
        return std::nullopt;
    }

    // The Wi-Fi device to use: the first activated one, else the first one;
    // empty when there is none, none when that could not be told.
    std::optional<QString> wifiDevice() {
        auto devices = paths(kRoot, kService, QStringLiteral("GetDevices"));
        if (!devices) return std::nullopt;
        QString first;
        for (const auto& d : *devices) {
            auto type = typed<uint>(d.path(), kDevice, QStringLiteral("DeviceType"));
            if (!type) return std::nullopt;
            if (*type != kDeviceTypeWifi) continue;
            auto state = typed<uint>(d.path(), kDevice, QStringLiteral("State"));
            if (!state) return std::nullopt;
            if (*state == kDeviceStateActivated) return d.path();
            if (first.isEmpty()) first = d.path();
        }
        return first;
    }

    std::optional<qint64> lastScan(const QString& device) {
        return typed<qlonglong>(device, kWireless, QStringLiteral("LastScan"));
    }

    bool timedOut() const { return timedOut_; }
    // Some call went unanswered, answered an error or a wrong type.
    bool erred() const { return erred_; }

private:
    void wrongType(const QString& what) {
        erred_ = true;
        if (!wrongTypeLogged_.exchange(true))
            log::warning("wifi", "NetworkManager answered " + what.toStdString() +
                                     " with a type it does not use: the Wi-Fi is unknown");
    }

    // After one call goes unanswered the rest would too: each would cost the
    // whole timeout, and a scan asks three per access point.
    QDBusMessage send(const QDBusMessage& msg, bool optional = false) {
        if (timedOut_) return msg.createErrorReply(QDBusError::NoReply, QString());
        auto reply = c_.call(msg, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            const auto type = QDBusError(reply).type();
            timedOut_ = type == QDBusError::NoReply || type == QDBusError::Timeout;
            if (!optional || timedOut_) erred_ = true;
        } else if (reply.type() != QDBusMessage::ReplyMessage) {
            erred_ = true;
        }
        return reply;
    }

    QDBusConnection& c_;
    std::atomic<bool>& wrongTypeLogged_;
    bool timedOut_ = false;
    bool erred_ = false;
};

bool validPath(const QString& p) { return !p.isEmpty() && p != QStringLiteral("/"); }

}  // namespace

NetworkManagerWiFi::NetworkManagerWiFi(const QString& busAddress) : busAddress_(busAddress) {}

NetworkManagerWiFi::~NetworkManagerWiFi() {
    watch_.reset();
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
    // No bus: no NetworkManager on it either.
    if (!this->bus().isConnected()) return {false, std::nullopt, true};
    Bus bus(this->bus(), wrongTypeLogged_);
    const auto present = bus.hasNetworkManager();
    if (!present) return unknown;
    if (!*present) return {false, std::nullopt, true};
    // Starting, it has not yet found the devices it will bring up: "no Wi-Fi"
    // then would be a guess.
    const auto starting = bus.typed<bool>(kRoot, kService, QStringLiteral("Startup"), true);
    if (bus.erred() || (starting && *starting)) return unknown;
    const auto device = bus.wifiDevice();
    if (!device) return unknown;
    if (device->isEmpty()) return {};
    const auto state = bus.typed<uint>(*device, kDevice, QStringLiteral("State"));
    if (!state) return unknown;
    if (*state != kDeviceStateActivated) return {};
    const auto ap = bus.typed<QDBusObjectPath>(*device, kWireless, QStringLiteral("ActiveAccessPoint"));
    if (!ap) return unknown;
    if (!validPath(ap->path())) return {};
    const auto path = ap->path();
    const auto ssid = bus.typed<QByteArray>(path, kAccessPoint, QStringLiteral("Ssid"));
    const auto bssid = bus.typed<QString>(path, kAccessPoint, QStringLiteral("HwAddress"));
    const auto flags = bus.typed<uint>(path, kAccessPoint, QStringLiteral("Flags"));
    const auto wpa = bus.typed<uint>(path, kAccessPoint, QStringLiteral("WpaFlags"));
    const auto rsn = bus.typed<uint>(path, kAccessPoint, QStringLiteral("RsnFlags"));
    // A flag that did not come would read as an open network.
    if (bus.erred() || !ssid || !bssid || !flags || !wpa || !rsn) return unknown;
    WiFiNetwork n;
    n.security = securityFromAccessPointFlags(*flags, *wpa, *rsn);
    n.ssid.assign(ssid->constData(), static_cast<std::size_t>(ssid->size()));
    n.bssid = normalizedBSSID(bssid->toStdString());
    return {true, n};
}

bool NetworkManagerWiFi::startWatch(std::function<void()> changed) {
    watch_.reset();
    // The connection is made once: without a bus now, NetworkManager can
    // never answer on it, so there is nothing to announce, ever; asking
    // again would only wake the application.
    if (!bus().isConnected()) return true;
    watch_ = std::make_unique<NetworkManagerWatch>(bus(), std::move(changed));
    if (watch_->subscribed()) return true;
    watch_.reset();
    return false;
}

void NetworkManagerWiFi::stopWatch() { watch_.reset(); }

WiFiScan NetworkManagerWiFi::scan() {
    Bus bus(this->bus(), wrongTypeLogged_);
    if (bus.hasNetworkManager() != true) return {{}, bus.timedOut()};
    const auto wifiDevice = bus.wifiDevice();
    if (!wifiDevice || wifiDevice->isEmpty()) return {{}, bus.timedOut()};
    const QString device = *wifiDevice;
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
    for (const auto& ap : bus.paths(device, kWireless, QStringLiteral("GetAllAccessPoints")).value_or(QList<QDBusObjectPath>{})) {
        WiFiScanEntry e;
        auto ssid = bus.typed<QByteArray>(ap.path(), kAccessPoint, QStringLiteral("Ssid"));
        auto bssid = bus.typed<QString>(ap.path(), kAccessPoint, QStringLiteral("HwAddress"));
        if (bus.timedOut()) break;
        if (ssid && !ssid->isEmpty()) e.ssid = std::string(ssid->constData(), static_cast<std::size_t>(ssid->size()));
        if (bssid && !bssid->isEmpty()) e.bssid = normalizedBSSID(bssid->toStdString());
        found.networks.push_back(std::move(e));
    }
    found.timedOut = bus.timedOut();
    return found;
}

}  // namespace hw
