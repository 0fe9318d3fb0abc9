#include "app/dbus_menu_export.h"

#include <QAction>
#include <QBuffer>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QSet>

namespace hw::dbusmenu {

struct LayoutNode {
    int id = 0;
    QVariantMap props;
    QList<LayoutNode> children;
};
struct ItemProps {
    int id = 0;
    QVariantMap props;
};
struct ItemRemoved {
    int id = 0;
    QStringList names;
};
struct GroupEvent {
    int id = 0;
    QString name;
    QDBusVariant data;
    uint timestamp = 0;
};

}  // namespace hw::dbusmenu

Q_DECLARE_METATYPE(hw::dbusmenu::LayoutNode)
Q_DECLARE_METATYPE(hw::dbusmenu::ItemProps)
Q_DECLARE_METATYPE(hw::dbusmenu::ItemRemoved)
Q_DECLARE_METATYPE(hw::dbusmenu::GroupEvent)

namespace hw::dbusmenu {

QDBusArgument& operator<<(QDBusArgument& arg, const LayoutNode& node) {
    arg.beginStructure();
    arg << node.id << node.props;
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const LayoutNode& child : node.children) arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, LayoutNode& node) {
    // Only ever sent; a layout read back has no use here.
    arg.beginStructure();
    arg >> node.id >> node.props;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant skipped;
        arg >> skipped;
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const ItemProps& item) {
    arg.beginStructure();
    arg << item.id << item.props;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, ItemProps& item) {
    arg.beginStructure();
    arg >> item.id >> item.props;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const ItemRemoved& item) {
    arg.beginStructure();
    arg << item.id << item.names;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, ItemRemoved& item) {
    arg.beginStructure();
    arg >> item.id >> item.names;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const GroupEvent& e) {
    arg.beginStructure();
    arg << e.id << e.name << e.data << e.timestamp;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, GroupEvent& e) {
    arg.beginStructure();
    arg >> e.id >> e.name >> e.data >> e.timestamp;
    arg.endStructure();
    return arg;
}

}  // namespace hw::dbusmenu

namespace hw {
namespace {

using dbusmenu::GroupEvent;
using dbusmenu::ItemProps;
using dbusmenu::ItemRemoved;
using dbusmenu::LayoutNode;

constexpr char kInterface[] = "com.canonical.dbusmenu";
const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
// A panel asks about a handful of items at once; a longer list is not one.
constexpr qsizetype kMaxGroup = 1024;
constexpr int kIconSide = 16;

void registerTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<LayoutNode>();
        qDBusRegisterMetaType<ItemProps>();
        qDBusRegisterMetaType<QList<ItemProps>>();
        qDBusRegisterMetaType<ItemRemoved>();
        qDBusRegisterMetaType<QList<ItemRemoved>>();
        qDBusRegisterMetaType<GroupEvent>();
        qDBusRegisterMetaType<QList<GroupEvent>>();
        return true;
    }();
    (void)once;
}

bool replyError(const QDBusConnection& c, const QDBusMessage& m, const QString& why) {
    return c.send(m.createErrorReply(kInvalidArgs, why));
}

}  // namespace

DBusMenuExport::DBusMenuExport(QMenu* root, QDBusConnection bus) : root_(root), bus_(std::move(bus)) {
    registerTypes();
    pending_.setSingleShot(true);
    pending_.setInterval(0);
    QObject::connect(&pending_, &QTimer::timeout, this, [this] { publish(); });
    published_ = snapshot();
    exported_ = bus_.registerVirtualObject(QString::fromLatin1(kPath), this);
}

void DBusMenuExport::changed() { pending_.start(); }

QString DBusMenuExport::label(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'_') {
            out += QStringLiteral("__");
        } else if (c == u'&') {
            if (i + 1 < text.size() && text.at(i + 1) == u'&') {
                out += u'&';
                ++i;
            } else if (i + 1 < text.size()) {
                out += u'_';
            }
        } else {
            out += c;
        }
    }
    return out;
}

int DBusMenuExport::idOf(QAction* action) {
    // An address a deleted action had may come back for a new one.
    if (auto it = ids_.find(action); it != ids_.end() && actionOf(it->second) == action) return it->second;
    const int id = nextId_++;
    ids_[action] = id;
    actions_[id] = action;
    return id;
}

QAction* DBusMenuExport::actionOf(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second.data();
}

QMenu* DBusMenuExport::menuOf(int id) const {
    if (id == 0) return root_.data();
    QAction* action = actionOf(id);
    return action ? action->menu() : nullptr;
}

QVariantMap DBusMenuExport::propsOf(const QAction* action) {
    QVariantMap p;
    if (action->isSeparator()) {
        p.insert(QStringLiteral("type"), QStringLiteral("separator"));
        p.insert(QStringLiteral("visible"), action->isVisible());
        return p;
    }
    p.insert(QStringLiteral("label"), label(action->text()));
    p.insert(QStringLiteral("enabled"), action->isEnabled());
    p.insert(QStringLiteral("visible"), action->isVisible());
    if (action->menu()) p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (action->isCheckable()) {
        p.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        p.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
    }
    if (const QIcon icon = action->icon(); !icon.isNull()) {
        auto [it, made] = iconData_.try_emplace(icon.cacheKey());
        if (made) {
            QBuffer png(&it->second);
            png.open(QIODevice::WriteOnly);
            icon.pixmap(QSize(kIconSide, kIconSide), 1.0).save(&png, "PNG");
        }
        if (!it->second.isEmpty()) p.insert(QStringLiteral("icon-data"), it->second);
    }
    return p;
}

DBusMenuExport::Tree DBusMenuExport::snapshot() {
    Tree tree;
    QSet<QMenu*> seen;
    std::function<void(int, QMenu*)> walk = [&](int id, QMenu* menu) {
        Node& node = tree[id];
        if (id == 0) node.props.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        // A menu that holds itself, however it came to, is walked once.
        if (!menu || seen.contains(menu)) return;
        seen.insert(menu);
        for (QAction* action : menu->actions()) {
            const int child = idOf(action);
            node.children << child;
            tree[child].props = propsOf(action);
            if (action->menu()) walk(child, action->menu());
        }
    };
    walk(0, root_.data());
    // Ids of actions gone are never handed out again; forget them.
    std::erase_if(actions_, [](const auto& entry) { return entry.second.isNull(); });
    std::erase_if(ids_, [this](const auto& entry) { return !actions_.contains(entry.second); });
    if (iconData_.size() > 256) iconData_.clear();
    return tree;
}

void DBusMenuExport::publish() {
    Tree now = snapshot();
    bool layoutChanged = now.size() != published_.size();
    for (auto it = now.begin(); !layoutChanged && it != now.end(); ++it) {
        auto old = published_.find(it->first);
        layoutChanged = old == published_.end() || old->second.children != it->second.children;
    }
    if (layoutChanged) {
        published_ = std::move(now);
        emitSignal("LayoutUpdated", {QVariant(++revision_), QVariant(0)});
        return;
    }
    QList<ItemProps> updated;
    QList<ItemRemoved> removed;
    for (const auto& [id, node] : now) {
        const QVariantMap& before = published_[id].props;
        if (before == node.props) continue;
        updated << ItemProps{id, node.props};
        QStringList gone;
        for (auto p = before.begin(); p != before.end(); ++p)
            if (!node.props.contains(p.key())) gone << p.key();
        if (!gone.isEmpty()) removed << ItemRemoved{id, gone};
    }
    published_ = std::move(now);
    if (updated.isEmpty()) return;
    emitSignal("ItemsPropertiesUpdated", {QVariant::fromValue(updated), QVariant::fromValue(removed)});
}

void DBusMenuExport::emitSignal(const char* name, const QVariantList& args) {
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                                                     QString::fromLatin1(name));
    signal.setArguments(args);
    bus_.send(signal);
}

QVariantMap DBusMenuExport::filtered(int id, const QStringList& names) {
    auto it = published_.find(id);
    if (it == published_.end()) return {};
    if (names.isEmpty()) return it->second.props;
    QVariantMap out;
    for (const QString& name : names)
        if (auto p = it->second.props.find(name); p != it->second.props.end()) out.insert(name, *p);
    return out;
}

QVariant DBusMenuExport::layout(int id, int depth, const QStringList& names) {
    LayoutNode node{id, filtered(id, names), {}};
    if (depth != 0)
        for (int child : published_[id].children) {
            QVariant sub = layout(child, depth < 0 ? -1 : depth - 1, names);
            node.children << sub.value<LayoutNode>();
        }
    return QVariant::fromValue(node);
}

bool DBusMenuExport::event(int id, const QString& name, QString* error) {
    if (!knownId(id)) {
        *error = QStringLiteral("unknown menu item %1").arg(id);
        return false;
    }
    if (name == QLatin1String("hovered") || name == QLatin1String("opened") || name == QLatin1String("closed"))
        return true;
    if (name != QLatin1String("clicked")) {
        *error = QStringLiteral("unknown event");
        return false;
    }
    QPointer<QAction> action = actionOf(id);
    if (!action || action->isSeparator() || action->menu() || !action->isEnabled()) return true;
    // Not inside the bus's dispatch: the action may close the menu or quit.
    QMetaObject::invokeMethod(
        this, [action] { if (action && action->isEnabled()) action->trigger(); }, Qt::QueuedConnection);
    return true;
}

QString DBusMenuExport::introspect(const QString&) const {
    return QStringLiteral(
        "<interface name=\"com.canonical.dbusmenu\">"
        "<property name=\"Version\" type=\"u\" access=\"read\"/>"
        "<property name=\"TextDirection\" type=\"s\" access=\"read\"/>"
        "<property name=\"Status\" type=\"s\" access=\"read\"/>"
        "<property name=\"IconThemePath\" type=\"as\" access=\"read\"/>"
        "<method name=\"GetLayout\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"as\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/>"
        "<arg type=\"(ia{sv}av)\" direction=\"out\"/></method>"
        "<method name=\"GetGroupProperties\"><arg type=\"ai\" direction=\"in\"/><arg type=\"as\" direction=\"in\"/>"
        "<arg type=\"a(ia{sv})\" direction=\"out\"/></method>"
        "<method name=\"GetProperty\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
        "<arg type=\"v\" direction=\"out\"/></method>"
        "<method name=\"Event\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
        "<arg type=\"v\" direction=\"in\"/><arg type=\"u\" direction=\"in\"/></method>"
        "<method name=\"EventGroup\"><arg type=\"a(isvu)\" direction=\"in\"/>"
        "<arg type=\"ai\" direction=\"out\"/></method>"
        "<method name=\"AboutToShow\"><arg type=\"i\" direction=\"in\"/><arg type=\"b\" direction=\"out\"/></method>"
        "<method name=\"AboutToShowGroup\"><arg type=\"ai\" direction=\"in\"/><arg type=\"ai\" direction=\"out\"/>"
        "<arg type=\"ai\" direction=\"out\"/></method>"
        "<signal name=\"ItemsPropertiesUpdated\"><arg type=\"a(ia{sv})\"/><arg type=\"a(ias)\"/></signal>"
        "<signal name=\"LayoutUpdated\"><arg type=\"u\"/><arg type=\"i\"/></signal>"
        "<signal name=\"ItemActivationRequested\"><arg type=\"i\"/><arg type=\"u\"/></signal>"
        "</interface>");
}

bool DBusMenuExport::handleMessage(const QDBusMessage& m, const QDBusConnection& c) {
    if (m.type() != QDBusMessage::MethodCallMessage) return false;
    const QString member = m.member();
    const QString sig = m.signature();
    const QVariantList args = m.arguments();
    if (member == QLatin1String("Introspect"))
        return c.send(m.createReply(QStringLiteral("<node>") + introspect(m.path()) + QStringLiteral("</node>")));
    if (m.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
        const QVariantMap all{{QStringLiteral("Version"), uint(3)},
                              {QStringLiteral("TextDirection"), QStringLiteral("ltr")},
                              {QStringLiteral("Status"), QStringLiteral("normal")},
                              {QStringLiteral("IconThemePath"), QStringList{}}};
        if (member == QLatin1String("GetAll") && sig == QLatin1String("s")) return c.send(m.createReply(all));
        if (member == QLatin1String("Get") && sig == QLatin1String("ss")) {
            const QString name = args.at(1).toString();
            if (!all.contains(name)) return replyError(c, m, QStringLiteral("no such property"));
            return c.send(m.createReply(QVariant::fromValue(QDBusVariant(all.value(name)))));
        }
        return replyError(c, m, QStringLiteral("read-only properties"));
    }
    // A call takes the items as they were last published, as the signals told.
    if (pending_.isActive()) {
        pending_.stop();
        publish();
    }
    if (member == QLatin1String("GetLayout") && sig == QLatin1String("iias")) {
        const int parent = args.at(0).toInt();
        if (!published_.contains(parent)) return replyError(c, m, QStringLiteral("unknown menu item"));
        const QVariant tree = layout(parent, args.at(1).toInt(), args.at(2).toStringList());
        return c.send(m.createReply(QVariantList{QVariant(revision_), tree}));
    }
    if (member == QLatin1String("GetGroupProperties") && sig == QLatin1String("aias")) {
        const auto ids = qdbus_cast<QList<int>>(args.at(0));
        if (ids.size() > kMaxGroup) return replyError(c, m, QStringLiteral("too many items"));
        const QStringList names = args.at(1).toStringList();
        QList<ItemProps> out;
        // Every item when none is named, as the protocol has it.
        if (ids.isEmpty()) {
            for (const auto& [id, node] : published_) out << ItemProps{id, filtered(id, names)};
        } else {
            for (int id : ids)
                if (published_.contains(id)) out << ItemProps{id, filtered(id, names)};
        }
        return c.send(m.createReply(QVariant::fromValue(out)));
    }
    if (member == QLatin1String("GetProperty") && sig == QLatin1String("is")) {
        const QVariantMap props = filtered(args.at(0).toInt(), {args.at(1).toString()});
        if (props.isEmpty()) return replyError(c, m, QStringLiteral("unknown menu item or property"));
        return c.send(m.createReply(QVariant::fromValue(QDBusVariant(props.first()))));
    }
    if (member == QLatin1String("Event") && sig == QLatin1String("isvu")) {
        QString error;
        if (!event(args.at(0).toInt(), args.at(1).toString(), &error)) return replyError(c, m, error);
        return c.send(m.createReply());
    }
    if (member == QLatin1String("EventGroup") && sig == QLatin1String("a(isvu)")) {
        const auto events = qdbus_cast<QList<GroupEvent>>(args.at(0));
        if (events.size() > kMaxGroup) return replyError(c, m, QStringLiteral("too many events"));
        QList<int> errors;
        QString error;
        for (const GroupEvent& e : events)
            if (!event(e.id, e.name, &error)) errors << e.id;
        if (!events.isEmpty() && errors.size() == events.size()) return replyError(c, m, error);
        return c.send(m.createReply(QVariant::fromValue(errors)));
    }
    if (member == QLatin1String("AboutToShow") && sig == QLatin1String("i")) {
        if (!knownId(args.at(0).toInt())) return replyError(c, m, QStringLiteral("unknown menu item"));
        return c.send(m.createReply(false));
    }
    if (member == QLatin1String("AboutToShowGroup") && sig == QLatin1String("ai")) {
        const auto ids = qdbus_cast<QList<int>>(args.at(0));
        if (ids.size() > kMaxGroup) return replyError(c, m, QStringLiteral("too many items"));
        QList<int> errors;
        for (int id : ids)
            if (!knownId(id)) errors << id;
        return c.send(m.createReply(QVariantList{QVariant::fromValue(QList<int>{}), QVariant::fromValue(errors)}));
    }
    return c.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member));
}

}  // namespace hw
