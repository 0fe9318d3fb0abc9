#include "app/qt_status_item.h"

#include <string_view>

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusServiceWatcher>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/menu_bar_menu_controller.h"
#include "app/xembed_tray_watch.h"
#include "platform/log.h"
#include "view/kit_images.h"

namespace hw {
namespace {

constexpr char kLog[] = "StatusItem";
constexpr int kIconSize = 22;
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr char kStatusNotifier[] = "StatusNotifierItem";
constexpr char kXEmbed[] = "XEmbed";

// The template drawn light, inside a dark outline one pixel wide: it reads on
// a light panel and on a dark one alike.
QPixmap outlinedStatusImage(const std::string& name, int scale) {
    const QSize inner(kIconSize - 2, kIconSize - 2);
    const QImage outline = kitTemplateImage(name, QColor(0x1e, 0x1e, 0x1e), inner, scale);
    const QImage fill = kitTemplateImage(name, QColor(0xfa, 0xfa, 0xfa), inner, scale);
    if (outline.isNull() || fill.isNull()) return {};
    QImage out(kIconSize * scale, kIconSize * scale, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    out.setDevicePixelRatio(scale);
    QPainter painter(&out);
    for (int dx = 0; dx <= 2; ++dx)
        for (int dy = 0; dy <= 2; ++dy)
            if (dx != 1 || dy != 1) painter.drawImage(QPoint(dx, dy), outline);
    painter.drawImage(QPoint(1, 1), fill);
    painter.end();
    return QPixmap::fromImage(out);
}

// Qt asks this of the watcher once per process, when the first item is made.
bool hostRegistered(QDBusConnection& bus) {
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage answer = bus.call(get, QDBus::Block, 500);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) return false;
    return answer.arguments().front().value<QDBusVariant>().variant().toBool();
}

QIcon flagIcon(const Image& image) {
    const int side = static_cast<int>(MenuBarMenuController::LOCATION_ITEM_FLAG_IMAGE_SIZE);
    QImage q(image.rgba.data(), image.width, image.height, image.width * 4, QImage::Format_RGBA8888);
    return QIcon(QPixmap::fromImage(q.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

}  // namespace

QtStatusItem::QtStatusItem(QObject* parent, Settle when) : QObject(parent), root_(std::make_unique<QMenu>()) {
    if (when == Settle::Now) settle();
}

void QtStatusItem::settle() {
    if (settled_) return;
    settled_ = true;
    // Qt settles once per process which kind of tray the desktop has, on the
    // first item made: an item made before the panel's watcher is up would
    // dock in the older tray or stay absent all session. So none is made
    // until a tray of either kind is there, the newer kind first.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) watchStatusNotifierHost(bus);
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kWatcher)) {
        makeTray(kStatusNotifier);
        return;
    }
    xembedWatch_ = std::make_unique<XEmbedTrayWatch>();
    if (xembedWatch_->trayRuns()) {
        makeTray(kXEmbed);
        return;
    }
    log::warning(kLog, "no tray host yet: the status item waits for one");
    waitForXEmbedTray();
}

void QtStatusItem::watchStatusNotifierHost(QDBusConnection& bus) {
    hostWatch_ = std::make_unique<QDBusServiceWatcher>(
        kWatcher, bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(hostWatch_.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] {
        // An XEmbed icon stays made through its tray's absence: Qt keeps to
        // the kind of tray it met first.
        if (tray_) {
            if (trayKind_ != std::string_view(kStatusNotifier))
                log::info(kLog, "a StatusNotifierItem host appeared: the item stays in the XEmbed tray until the next start");
            return;
        }
        log::info(kLog, "a tray host appeared");
        makeTrayOnceHostRegistered(20);
    });
    QObject::connect(hostWatch_.get(), &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        if (trayKind_ != std::string_view(kStatusNotifier)) return;
        // A new watcher knows nothing of the old item: a new one registers.
        tray_->setContextMenu(nullptr);
        tray_.reset();
        lost();
    });
}

void QtStatusItem::waitForXEmbedTray() {
    QPointer<QtStatusItem> self(this);
    xembedWatch_->watch([self] {
        if (!self || *self->trayKind_) return;
        log::info(kLog, "a system tray appeared");
        // Qt docks an icon it made before in the new tray itself.
        if (self->tray_) self->shownIn(kXEmbed);
        else self->makeTray(kXEmbed);
    });
}

void QtStatusItem::lost() {
    trayKind_ = "";
    log::warning(kLog, "the tray went away: the status item waits for another");
    if (onLost) onLost();
}

void QtStatusItem::shownIn(const char* kind) {
    trayKind_ = kind;
    log::info(kLog, std::string("the status item shows in the tray (") + kind + ")");
    if (onShown) onShown();
    if (kind != std::string_view(kXEmbed)) return;
    QPointer<QtStatusItem> self(this);
    xembedWatch_->watchGone([self] {
        if (!self || self->trayKind_ != std::string_view(kXEmbed)) return;
        self->lost();
        self->waitForXEmbedTray();
    });
}

// A watcher's name comes up before its host registers with it; an item made
// in between would be judged trayless for the rest of the session.
void QtStatusItem::makeTrayOnceHostRegistered(int triesLeft) {
    if (tray_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (triesLeft <= 0 || hostRegistered(bus)) {
        makeTray(kStatusNotifier);
        return;
    }
    QPointer<QtStatusItem> self(this);
    QTimer::singleShot(150, this, [self, triesLeft] {
        if (self) self->makeTrayOnceHostRegistered(triesLeft - 1);
    });
}

void QtStatusItem::makeTray(const char* kind) {
    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setToolTip(QStringLiteral("Havenway"));
    tray_->setContextMenu(root_.get());
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger && onActivated) onActivated();
    });
    // The desktop refuses an item without an icon.
    applyImage(imageName_.empty() ? std::string("MenuBar_icon_DISCONNECTED") : imageName_);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        log::warning(kLog, "no system tray: the status item is not shown");
        return;
    }
    tray_->show();
    shownIn(kind);
}

QtStatusItem::~QtStatusItem() {
    detach(menu_);
    if (tray_) tray_->setContextMenu(nullptr);
    // Removing the actions frees the exported menu's items; a menu destroyed
    // with its actions in place leaves them behind.
    for (QMenu* sub : root_->findChildren<QMenu*>()) sub->clear();
    root_->clear();
}

bool QtStatusItem::isShown() const { return tray_ && QSystemTrayIcon::isSystemTrayAvailable() && tray_->isVisible(); }

void QtStatusItem::setImage(const std::string& name) {
    if (name == imageName_) return;
    applyImage(name);
}

QIcon QtStatusItem::statusIcon(const std::string& name) {
    QIcon icon;
    for (int scale : {1, 2})
        if (QPixmap p = outlinedStatusImage(name, scale); !p.isNull()) icon.addPixmap(p);
    return icon;
}

void QtStatusItem::applyImage(const std::string& name) {
    imageName_ = name;
    if (!tray_) return;
    const QIcon icon = statusIcon(name);
    if (icon.isNull()) log::warning(kLog, "no status image " + name);
    tray_->setIcon(icon);
}

void QtStatusItem::detach(const MenuPtr& model) {
    if (!model) return;
    model->onChanged = nullptr;
    for (const auto& item : model->items())
        if (item->submenu) detach(item->submenu);
}

void QtStatusItem::setMenu(const MenuPtr& menu) {
    if (menu == menu_) return;
    detach(menu_);
    menu_ = menu;
    actions_.clear();
    root_->clear();
    if (menu) fill(root_.get(), menu);
}

void QtStatusItem::apply(QAction* action, const MenuItemModel& item) {
    action->setText(QString::fromStdString(item.title));
    action->setEnabled(item.enabled);
    action->setVisible(item.visible);
    action->setChecked(item.checked);
    // With a flag in its place the style draws no check mark: the chosen
    // location reads in bold instead.
    if (item.checkable) {
        QFont font = action->font();
        font.setBold(item.checked);
        action->setFont(font);
    }
    if (item.image && item.image->isValid()) action->setIcon(flagIcon(*item.image));
    else if (!item.imageName.empty()) action->setIcon(kitIcon(item.imageName));
    else action->setIcon(QIcon());
}

void QtStatusItem::fill(QMenu* target, const MenuPtr& model) {
    const QList<QAction*> old = target->actions();
    const QSet<QAction*> gone(old.begin(), old.end());
    std::erase_if(actions_, [&](const auto& entry) { return gone.contains(entry.second); });
    // A submenu's action belongs to the submenu, which clear() leaves.
    for (QMenu* sub : target->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) sub->deleteLater();
    target->clear();
    for (const auto& item : model->items()) {
        if (item->separator) {
            target->addSeparator();
            continue;
        }
        QAction* action = nullptr;
        if (item->submenu) {
            QMenu* sub = target->addMenu(QString());
            action = sub->menuAction();
            fill(sub, item->submenu);
        } else {
            action = target->addAction(QString());
            action->setCheckable(item->checkable);
            std::weak_ptr<MenuItemModel> weak = item;
            QObject::connect(action, &QAction::triggered, this, [weak] {
                if (auto i = weak.lock(); i && i->action) i->action();
            });
        }
        apply(action, *item);
        actions_[item.get()] = action;
    }
    tidySeparators(target);
    std::weak_ptr<MenuModel> weakModel = model;
    model->onChanged = [this, target, weakModel](const MenuItemModel* changed) {
        auto m = weakModel.lock();
        if (!m) return;
        if (!changed) {
            fill(target, m);
            return;
        }
        if (auto it = actions_.find(changed); it != actions_.end()) {
            apply(it->second, *changed);
            tidySeparators(target);
        }
    };
}

// A menu exported to a StatusNotifierItem host keeps every separator Qt's own
// menu would collapse: one is shown only between two visible items.
void QtStatusItem::tidySeparators(QMenu* target) {
    QAction* pending = nullptr;
    bool itemBefore = false;
    for (QAction* action : target->actions()) {
        if (action->isSeparator()) {
            action->setVisible(false);
            if (itemBefore && !pending) pending = action;
            continue;
        }
        if (!action->isVisible()) continue;
        if (pending) pending->setVisible(true);
        pending = nullptr;
        itemBefore = true;
    }
}

}  // namespace hw
