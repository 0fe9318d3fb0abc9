#include "app/qt_status_item.h"

#include <string_view>

#include <QAction>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/dbus_status_item.h"
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
    // Qt settles once per process which kind of tray its own icon uses, on
    // the first one made or asked about: made while a StatusNotifierItem host
    // is registered, it would be a second item beside ours all session. So a
    // QSystemTrayIcon is made only while no host is, and goes when one comes.
    QDBusConnection bus = QDBusConnection::sessionBus();
    xembedWatch_ = std::make_unique<XEmbedTrayWatch>();
    if (bus.isConnected()) watchStatusNotifierHost(bus);
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kWatcher) &&
        hostRegistered(bus)) {
        useStatusNotifier();
        if (sni_) return;
    }
    if (xembedWatch_->trayRuns() && makeXEmbedTray()) return;
    log::warning(kLog, "no tray host yet: the status item waits for one");
    waitForXEmbedTray();
}

void QtStatusItem::watchStatusNotifierHost(QDBusConnection& bus) {
    hostWatch_ = std::make_unique<QDBusServiceWatcher>(
        kWatcher, bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
    // A watcher's name comes up before it answers, and before its host
    // registers with it: it is asked again for a while.
    QObject::connect(hostWatch_.get(), &QDBusServiceWatcher::serviceRegistered, this,
                     [this] { askWhetherHostRegistered(20); });
    QObject::connect(hostWatch_.get(), &QDBusServiceWatcher::serviceUnregistered, this,
                     [this] { leaveStatusNotifier(); });
    // Any sender: the watcher's name may change hands before its owner is known here.
    const QString path = QStringLiteral("/StatusNotifierWatcher");
    bus.connect(QString(), path, kWatcher, QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(onHostRegistered()));
    bus.connect(QString(), path, kWatcher, QStringLiteral("StatusNotifierHostUnregistered"), this,
                SLOT(onHostUnregistered()));
}

// Asked again of the watcher: the signal is heard from any sender.
void QtStatusItem::onHostRegistered() { askWhetherHostRegistered(0); }

// The watcher stays; whether another host is still there only it knows.
void QtStatusItem::onHostUnregistered() { askWhetherHostRegistered(0); }

void QtStatusItem::askWhetherHostRegistered(int againsLeft) {
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get, 2000), this);
    QObject::connect(call, &QDBusPendingCallWatcher::finished, this, [this, call, againsLeft] {
        call->deleteLater();
        const QDBusMessage answer = call->reply();
        const bool registered = answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty() &&
                                answer.arguments().front().value<QDBusVariant>().variant().toBool();
        if (registered) {
            useStatusNotifier();
        } else if (againsLeft > 0 && !sni_) {
            QTimer::singleShot(150, this, [this, againsLeft] { askWhetherHostRegistered(againsLeft - 1); });
        } else {
            leaveStatusNotifier();
        }
    });
}

void QtStatusItem::useStatusNotifier() {
    if (sni_) return;
    auto item = std::make_unique<DBusStatusItem>(root_.get(), QStringLiteral("Havenway"));
    if (!item->exported()) {
        log::warning(kLog, "the status item could not be put on the session bus");
        return;
    }
    sni_ = std::move(item);
    sni_->onActivate = [this] {
        if (onActivated) onActivated();
    };
    sni_->onContextMenu = [this](QPoint at) {
        // A point on no screen would open the menu where nobody sees it,
        // holding the grab: it opens at the pointer instead.
        root_->popup(QGuiApplication::screenAt(at) ? at : QCursor::pos());
    };
    applyImage(imageName_.empty() ? std::string("MenuBar_icon_DISCONNECTED") : imageName_);
    // A docked icon stays until the watcher took the item: no moment without one.
    const bool fromXEmbed = trayKind_ == std::string_view(kXEmbed);
    if (!fromXEmbed) {
        dropXEmbedTray();
        shownIn(kStatusNotifier);
    }
    QPointer<QtStatusItem> self(this);
    DBusStatusItem* asked = sni_.get();
    sni_->registerWithWatcher([self, asked](bool ok) {
        if (!self || self->sni_.get() != asked) return;
        if (!ok) {
            log::warning(kLog, "the StatusNotifierItem watcher did not take the item");
            self->leaveStatusNotifier();
            return;
        }
        if (self->trayKind_ == std::string_view(kStatusNotifier)) return;
        if (*self->trayKind_)
            log::info(kLog, "a StatusNotifierItem host appeared: the item moves there from the XEmbed tray");
        self->dropXEmbedTray();
        self->shownIn(kStatusNotifier);
    });
}

void QtStatusItem::leaveStatusNotifier() {
    if (!sni_) return;
    sni_.reset();
    // The docked icon stays until the watcher took the item.
    if (trayKind_ == std::string_view(kXEmbed)) return;
    const bool wasShown = *trayKind_;
    trayKind_ = "";
    if (xembedWatch_ && xembedWatch_->trayRuns()) {
        log::info(kLog, "the StatusNotifierItem host went away: the item moves to the XEmbed tray");
        if (makeXEmbedTray()) return;
    }
    if (wasShown) lost();
    waitForXEmbedTray();
}

void QtStatusItem::waitForXEmbedTray() {
    QPointer<QtStatusItem> self(this);
    xembedWatch_->watch([self] {
        if (!self || *self->trayKind_ || self->sni_) return;
        log::info(kLog, "a system tray appeared");
        self->makeXEmbedTray();
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

bool QtStatusItem::makeXEmbedTray() {
    // Qt docks an icon it made before in a new tray itself.
    if (!tray_) {
        tray_ = std::make_unique<QSystemTrayIcon>();
        tray_->setToolTip(QStringLiteral("Havenway"));
        tray_->setContextMenu(root_.get());
        QObject::connect(tray_.get(), &QSystemTrayIcon::activated, this,
                         [this](QSystemTrayIcon::ActivationReason why) {
                             if (why == QSystemTrayIcon::Trigger && onActivated) onActivated();
                         });
        // The tray refuses an item without an icon.
        applyImage(imageName_.empty() ? std::string("MenuBar_icon_DISCONNECTED") : imageName_);
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        log::warning(kLog, "no system tray: the status item is not shown");
        return false;
    }
    tray_->show();
    shownIn(kXEmbed);
    return true;
}

void QtStatusItem::dropXEmbedTray() {
    if (!tray_) return;
    tray_->hide();
    tray_->setContextMenu(nullptr);
    tray_.reset();
}

QtStatusItem::~QtStatusItem() {
    detach(menu_);
    sni_.reset();
    if (tray_) tray_->setContextMenu(nullptr);
    // Removing the actions frees the exported menu's items; a menu destroyed
    // with its actions in place leaves them behind.
    for (QMenu* sub : root_->findChildren<QMenu*>()) sub->clear();
    root_->clear();
}

bool QtStatusItem::isShown() const {
    if (trayKind_ == std::string_view(kStatusNotifier)) return sni_ != nullptr;
    // Asked with no icon made, Qt would settle its kind of tray now.
    return tray_ && QSystemTrayIcon::isSystemTrayAvailable() && tray_->isVisible();
}

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
    if (!tray_ && !sni_) return;
    const QIcon icon = statusIcon(name);
    if (icon.isNull()) log::warning(kLog, "no status image " + name);
    if (tray_) tray_->setIcon(icon);
    if (sni_) sni_->setIcon(icon);
}

void QtStatusItem::menuChanged() {
    if (sni_) sni_->menuChanged();
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
    menuChanged();
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
            // fill() replaces this very function: nothing captured is read after it.
            QtStatusItem* self = this;
            self->fill(target, m);
            self->menuChanged();
            return;
        }
        if (auto it = actions_.find(changed); it != actions_.end()) {
            apply(it->second, *changed);
            tidySeparators(target);
        }
        menuChanged();
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
