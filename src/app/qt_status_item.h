#pragma once
#include <memory>
#include <unordered_map>

#include <QIcon>
#include <QObject>

#include "app/status_item_view.h"

class QAction;
class QDBusConnection;
class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;

namespace hw {
class DBusStatusItem;
class XEmbedTrayWatch;
}

namespace hw {

// The status item: while a StatusNotifierItem host is registered it is an
// item of our own on the bus, with its QMenu exported over dbusmenu; else a
// QSystemTrayIcon docked in the XEmbed system tray. It moves to a host that
// comes later and back to the XEmbed tray when the host goes. Without a tray
// of either kind it stays absent until one appears, and says when it is lost.
class QtStatusItem final : public QObject, public StatusItemView {
    Q_OBJECT
public:
    enum class Settle { Now, Later };
    // Later: the item asks for a tray host only at settle(), so a launch
    // whose window shows at once does not wait for the desktop's tray
    // first. Image and menu set before then are kept.
    explicit QtStatusItem(QObject* parent = nullptr, Settle when = Settle::Now);
    ~QtStatusItem() override;

    bool isShown() const override;
    void setImage(const std::string& name) override;
    void setMenu(const MenuPtr& menu) override;

    // The icon a tray gets for one of the status images: light, outlined in
    // dark, so that it reads on light and dark panels alike.
    static QIcon statusIcon(const std::string& name);

    // Looks for the tray host once; later calls do nothing.
    void settle();

    // Which kind of tray shows the item: "StatusNotifierItem", "XEmbed", or
    // empty while there is none.
    const char* trayKind() const { return trayKind_; }

    // The menu as drawn, for tests and screenshots.
    QMenu* qmenu() const { return root_.get(); }
    const std::string& imageName() const { return imageName_; }

private slots:
    void onHostRegistered();
    void onHostUnregistered();

private:
    static void tidySeparators(QMenu* target);
    void fill(QMenu* target, const MenuPtr& model);
    void apply(QAction* action, const MenuItemModel& item);
    void detach(const MenuPtr& model);
    bool makeXEmbedTray();
    void dropXEmbedTray();
    void useStatusNotifier();
    void leaveStatusNotifier();
    void askWhetherHostRegistered(int againsLeft);
    void watchStatusNotifierHost(QDBusConnection& bus);
    void waitForXEmbedTray();
    void shownIn(const char* kind);
    void lost();
    void applyImage(const std::string& name);
    void menuChanged();

    bool settled_ = false;
    const char* trayKind_ = "";
    std::unique_ptr<QDBusServiceWatcher> hostWatch_;
    std::unique_ptr<XEmbedTrayWatch> xembedWatch_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<DBusStatusItem> sni_;
    std::unique_ptr<QMenu> root_;
    MenuPtr menu_;
    std::string imageName_;
    std::unordered_map<const MenuItemModel*, QAction*> actions_;
};

}  // namespace hw
