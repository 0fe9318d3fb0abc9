#pragma once
#include <map>
#include <unordered_map>

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>

class QAction;
class QMenu;

namespace hw {

// A QMenu as com.canonical.dbusmenu, for a StatusNotifierItem host to draw:
// each action gets an id of its own for as long as it lives. Everything from
// the bus is checked: an unknown id or event is answered with an error.
class DBusMenuExport final : public QDBusVirtualObject {
public:
    static constexpr char kPath[] = "/MenuBar";

    DBusMenuExport(QMenu* root, QDBusConnection bus);
    bool exported() const { return exported_; }

    // Call after anything in the menu changed: the panel hears of it once,
    // on the next turn of the event loop, as little as it needs.
    void changed();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // The menu's label for a QAction's text: '&' marks a mnemonic in Qt, '_' here.
    static QString label(const QString& text);

private:
    struct Node {
        QVariantMap props;
        QList<int> children;
        bool operator==(const Node&) const = default;
    };
    using Tree = std::map<int, Node>;

    int idOf(QAction* action);
    // Null for an id never given out or whose action is gone.
    QAction* actionOf(int id) const;
    QMenu* menuOf(int id) const;
    QVariantMap propsOf(const QAction* action);
    Tree snapshot();
    void publish();
    void emitSignal(const char* name, const QVariantList& args);
    bool knownId(int id) const { return id == 0 || actionOf(id) != nullptr; }
    QVariantMap filtered(int id, const QStringList& names);
    QVariant layout(int id, int depth, const QStringList& names);
    bool event(int id, const QString& name, QString* error);

    QPointer<QMenu> root_;
    QDBusConnection bus_;
    bool exported_ = false;
    std::unordered_map<QAction*, int> ids_;
    std::unordered_map<int, QPointer<QAction>> actions_;
    int nextId_ = 1;
    uint revision_ = 1;
    Tree published_;
    QTimer pending_;
    std::unordered_map<qint64, QByteArray> iconData_;
};

}  // namespace hw
