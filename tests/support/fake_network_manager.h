#pragma once
// A NetworkManager of our own: a few objects with properties, served on a
// private bus from the test's main thread. Header-only: only tests that link
// Qt D-Bus include it.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMap>

namespace hw::test {

class FakeNetworkManager final : public QDBusVirtualObject {
public:
    static inline const QString kService = "org.freedesktop.NetworkManager";
    static inline const QString kRoot = "/org/freedesktop/NetworkManager";
    static inline const QString kWifiDev = kRoot + "/Devices/2";
    static inline const QString kDevice = "org.freedesktop.NetworkManager.Device";
    static inline const QString kWireless = "org.freedesktop.NetworkManager.Device.Wireless";
    static inline const QString kAp = "org.freedesktop.NetworkManager.AccessPoint";

    QMap<QString, QMap<QString, QVariant>> props;  // "path|interface" -> name -> value
    QList<QDBusObjectPath> devices, accessPoints;
    int scans = 0;
    // Once it reaches 0, calls go unanswered, as from a NetworkManager that hangs; -1: never.
    int answersLeft = -1;
    // GetDevices answers `as` instead of `ao`, as a broken service might.
    bool devicesAsStrings = false;

    ~FakeNetworkManager() override { stop(); }

    void set(const QString& path, const QString& iface, const QString& name, QVariant value) {
        props[path + "|" + iface][name] = std::move(value);
    }
    void addAccessPoint(const QString& path, const QByteArray& ssid, const QString& bssid, uint flags, uint wpa, uint rsn) {
        set(path, kAp, "Ssid", ssid);
        set(path, kAp, "HwAddress", bssid);
        set(path, kAp, "Flags", flags);
        set(path, kAp, "WpaFlags", wpa);
        set(path, kAp, "RsnFlags", rsn);
        accessPoints.push_back(QDBusObjectPath(path));
    }

    // Takes NetworkManager's name on the bus, with a wired device and an
    // activated Wi-Fi device that has scanned nothing yet.
    bool serve(const QString& address) {
        auto bus = QDBusConnection::connectToBus(address, kConnection);
        if (!bus.isConnected() || !bus.registerService("org.freedesktop.NetworkManager") ||
            !bus.registerVirtualObject(kRoot, this, QDBusConnection::SubPath))
            return false;
        served_ = true;
        devices = {QDBusObjectPath(kRoot + "/Devices/1"), QDBusObjectPath(kWifiDev)};
        set(kRoot + "/Devices/1", kDevice, "DeviceType", uint(1));
        set(kRoot + "/Devices/1", kDevice, "State", uint(100));
        set(kWifiDev, kDevice, "DeviceType", uint(2));
        set(kWifiDev, kDevice, "State", uint(100));
        set(kWifiDev, kWireless, "LastScan", qlonglong(1000));
        set(kRoot, kService, "Startup", false);
        return true;
    }
    // Sets a property and says so, as NetworkManager does.
    void announce(const QString& path, const QString& iface, const QString& name, QVariant value) {
        set(path, iface, name, value);
        auto signal = QDBusMessage::createSignal(path, "org.freedesktop.DBus.Properties", "PropertiesChanged");
        signal << iface << QVariantMap{{name, value}} << QStringList{};
        QDBusConnection(kConnection).send(signal);
    }
    // Gives NetworkManager's name up and takes it again, as a restart does.
    bool leaveBus() { return QDBusConnection(kConnection).unregisterService(kService); }
    bool returnToBus() { return QDBusConnection(kConnection).registerService(kService); }
    void stop() {
        if (!served_) return;
        served_ = false;
        QDBusConnection::disconnectFromBus(kConnection);
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override {
        if (answersLeft == 0) return true;
        if (answersLeft > 0) --answersLeft;
        QVariantList out;
        if (m.interface() == "org.freedesktop.DBus.Properties" && m.member() == "Get") {
            auto key = m.path() + "|" + m.arguments().value(0).toString();
            auto name = m.arguments().value(1).toString();
            if (!props.contains(key) || !props[key].contains(name)) {
                return c.send(m.createErrorReply("org.freedesktop.DBus.Error.UnknownProperty", name));
            }
            out << QVariant::fromValue(QDBusVariant(props[key][name]));
        } else if (m.member() == "GetDevices" && devicesAsStrings) {
            QStringList paths;
            for (const auto& d : devices) paths << d.path();
            out << QVariant::fromValue(paths);
        } else if (m.member() == "GetDevices") {
            out << QVariant::fromValue(devices);
        } else if (m.member() == "GetAllAccessPoints") {
            out << QVariant::fromValue(accessPoints);
        } else if (m.member() == "RequestScan") {
            ++scans;
            set(kWifiDev, kWireless, "LastScan", qlonglong(1000 + scans));
        } else {
            return c.send(m.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod", m.member()));
        }
        return c.send(m.createReply(out));
    }

private:
    static inline const QString kConnection = "fake-nm";
    bool served_ = false;
};

}  // namespace hw::test
