#pragma once
// Reads a tray item's exported menu the way a desktop's panel does.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>
#include <vector>

#include "support/qt_test_app.h"

namespace hw::test {

struct MenuNode {
    int id = 0;
    QVariantMap props;
    std::vector<MenuNode> children;
    QString label() const { return props.value("label").toString(); }
    bool enabled() const { return props.value("enabled", true).toBool(); }
    bool visible() const { return props.value("visible", true).toBool(); }
    // The labels of the items below, separators left out.
    QStringList labels() const {
        QStringList out;
        for (const auto& c : children)
            if (c.props.value("type").toString() != "separator") out << c.label();
        return out;
    }
};

inline MenuNode readNode(const QDBusArgument& arg) {
    MenuNode n;
    arg.beginStructure();
    arg >> n.id >> n.props;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        n.children.push_back(readNode(child.variant().value<QDBusArgument>()));
    }
    arg.endArray();
    arg.endStructure();
    return n;
}

// A call answered while the event loop runs: the tray lives on this thread.
inline QDBusMessage trayCall(const QString& service, const QString& path, const QString& interface,
                             const QString& member, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, member);
    m.setArguments(args);
    QDBusPendingCallWatcher w(QDBusConnection::sessionBus().asyncCall(m));
    spinUntil([&] { return w.isFinished(); }, 10000);
    return w.reply();
}

// A click on the item, as the panel sends it.
inline void trayClick(const QString& service, int id) {
    trayCall(service, "/MenuBar", "com.canonical.dbusmenu", "Event",
             {id, QString("clicked"), QVariant::fromValue(QDBusVariant(0)), uint(0)});
}

// The whole menu tree, or an empty root when the item did not answer.
inline MenuNode trayLayout(const QString& service) {
    const QDBusMessage reply =
        trayCall(service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList{}});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) return {};
    return readNode(reply.arguments().at(1).value<QDBusArgument>());
}

}  // namespace hw::test
