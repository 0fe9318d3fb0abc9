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
class XEmbedTrayWatch;
}

namespace hw {

// The status item on QSystemTrayIcon: with a StatusNotifierItem host it
// registers with the desktop's watcher and exports its QMenu over
// com.canonical.dbusmenu; else it docks in the XEmbed system tray. Without a
// tray of either kind the item stays absent until one appears; when its tray
// goes away it says so, and comes back with the next tray of its kind.
class QtStatusItem final : public QObject, public StatusItemView {
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

private:
    static void tidySeparators(QMenu* target);
    void fill(QMenu* target, const MenuPtr& model);
    void apply(QAction* action, const MenuItemModel& item);
    void detach(const MenuPtr& model);
    void makeTray(const char* kind);
    void makeTrayOnceHostRegistered(int triesLeft);
    void watchStatusNotifierHost(QDBusConnection& bus);
    void waitForXEmbedTray();
    void shownIn(const char* kind);
    void lost();
    void applyImage(const std::string& name);

    bool settled_ = false;
    const char* trayKind_ = "";
    std::unique_ptr<QDBusServiceWatcher> hostWatch_;
    std::unique_ptr<XEmbedTrayWatch> xembedWatch_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QMenu> root_;
    MenuPtr menu_;
    std::string imageName_;
    std::unordered_map<const MenuItemModel*, QAction*> actions_;
};

}  // namespace hw
