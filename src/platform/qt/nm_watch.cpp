#include "platform/qt/nm_watch.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QVariantMap>

#include "platform/log.h"

namespace hw {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kPropertiesChanged = QStringLiteral("PropertiesChanged");

// The properties worth a look, by interface: a bit rate or a scan's time
// changes far more often and says nothing of which network this is.
struct Interest {
    QString interface;
    QStringList names;
};
const Interest kInterests[] = {
    {kService, {QStringLiteral("PrimaryConnection"), QStringLiteral("WirelessEnabled"), QStringLiteral("Startup")}},
    {QStringLiteral("org.freedesktop.NetworkManager.Device"), {QStringLiteral("State")}},
    {QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless"), {QStringLiteral("ActiveAccessPoint")}},
};

}  // namespace

NetworkManagerWatch::NetworkManagerWatch(QDBusConnection bus, std::function<void()> changed)
    : bus_(std::move(bus)), changed_(std::move(changed)) {
    if (!bus_.isConnected()) return;
    owner_ = std::make_unique<QDBusServiceWatcher>(kService, bus_, QDBusServiceWatcher::WatchForOwnerChange);
    connect(owner_.get(), &QDBusServiceWatcher::serviceOwnerChanged, this, &NetworkManagerWatch::onOwnerChanged);
    subscribed_ = true;
    // Any path: the devices and their paths come and go with NetworkManager.
    // The bus hands over only the interfaces asked for.
    for (const auto& interest : kInterests) {
        subscribed_ = bus_.connect(kService, QString(), kProperties, kPropertiesChanged, {interest.interface}, QString(),
                                   this, SLOT(onPropertiesChanged(QDBusMessage))) &&
                      subscribed_;
    }
    if (!subscribed_) log::warning("wifi", "NetworkManager's changes cannot be followed: they are asked for instead");
}

NetworkManagerWatch::~NetworkManagerWatch() {
    if (!bus_.isConnected()) return;
    for (const auto& interest : kInterests)
        bus_.disconnect(kService, QString(), kProperties, kPropertiesChanged, {interest.interface}, QString(), this,
                        SLOT(onPropertiesChanged(QDBusMessage)));
}

void NetworkManagerWatch::onPropertiesChanged(const QDBusMessage& message) {
    const auto args = message.arguments();
    // A signal of another form than (s, a{sv}, as) is looked at rather than
    // trusted: a look reads what it can and calls the rest unknown.
    bool worth = message.signature() != QLatin1String("sa{sv}as") || args.size() != 3;
    if (!worth) {
        const auto iface = args.at(0).toString();
        const auto props = qdbus_cast<QVariantMap>(args.at(1));
        const auto invalidated = qdbus_cast<QStringList>(args.at(2));
        for (const auto& interest : kInterests) {
            if (interest.interface != iface) continue;
            for (const auto& name : interest.names) worth = worth || props.contains(name) || invalidated.contains(name);
        }
    }
    if (worth && changed_) changed_();
}

void NetworkManagerWatch::onOwnerChanged() {
    if (changed_) changed_();
}

}  // namespace hw
