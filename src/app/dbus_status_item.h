#pragma once
#include <functional>
#include <memory>

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QIcon>
#include <QPoint>

class QMenu;

namespace hw {

class DBusMenuExport;

// The tray item as org.kde.StatusNotifierItem, with its menu as dbusmenu, on
// a connection of its own that holds org.kde.StatusNotifierItem-<pid>-1: the
// name and the objects go with it.
class DBusStatusItem final : public QDBusVirtualObject {
public:
    static constexpr char kPath[] = "/StatusNotifierItem";

    explicit DBusStatusItem(QMenu* menu, const QString& title);
    ~DBusStatusItem() override;
    DBusStatusItem(const DBusStatusItem&) = delete;
    DBusStatusItem& operator=(const DBusStatusItem&) = delete;

    // Whether the name and both objects are on the bus.
    bool exported() const { return exported_; }
    const QString& service() const { return service_; }

    void setIcon(const QIcon& icon);
    void menuChanged();
    // Asks the desktop's watcher to show the item; done(false) when it refused
    // or did not answer.
    void registerWithWatcher(std::function<void(bool)> done);

    std::function<void()> onActivate;
    std::function<void(QPoint)> onContextMenu;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QVariant property(const QString& name) const;
    void emitSignal(const char* name);

    QString service_;
    QString title_;
    QDBusConnection bus_;
    std::unique_ptr<DBusMenuExport> menu_;
    QIcon icon_;
    bool exported_ = false;
};

}  // namespace hw
