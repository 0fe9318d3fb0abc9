// The tray: its five icons on a panel and its menus as Qt draws them under
// the panel.
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include "app/menu_bar_menu_controller.h"
#include "support/recording_menu_commands.h"
#include "app/qt_status_item.h"
#include "hub/service_layer.h"
#include "services/locations_list_model.h"
#include "shots.h"
#include "support/fake_hub_factory.h"
#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"

namespace hw::shots {
namespace {

const char* const kIcons[] = {"MenuBar_icon_DISCONNECTED", "MenuBar_icon_CONNECTING_1", "MenuBar_icon_CONNECTING_2",
                              "MenuBar_icon_CONNECTING_3", "MenuBar_icon_CONNECTED"};

// Horizontal stripes, enough to tell the flags apart.
ImagePtr stripes(const std::vector<QColor>& colours) {
    auto image = std::make_shared<Image>();
    image->width = image->height = 38;
    for (std::size_t i = 0; i < 38 * 38; ++i) {
        const QColor c = colours[i / 38 * colours.size() / 38];
        for (int v : {c.red(), c.green(), c.blue(), 255}) image->rgba.push_back(static_cast<std::uint8_t>(v));
    }
    return image;
}

// A strip of the desktop's top panel, where the tray item sits, dark or light.
class Panel final : public QWidget {
public:
    explicit Panel(std::vector<std::string> icons, bool light = false) : icons_(std::move(icons)), light_(light) {
        setWindowFlags(Qt::FramelessWindowHint);
        resize(std::max(360, 40 + 34 * static_cast<int>(icons_.size())), 30);
        move(100, 60);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), kitColor(light_ ? "#EDEDEDFF" : "#2B2B2BFF"));
        p.setPen(kitColor(light_ ? "#202020FF" : "#E6E6E6FF"));
        p.setFont(latoFont(QFont::Bold, 13));
        p.drawText(QRect(10, 0, 120, height()), Qt::AlignVCenter, QStringLiteral("Activities"));
        int x = width() - 34 * static_cast<int>(icons_.size()) - 6;
        for (const auto& name : icons_) {
            // The icon as the tray item hands it to the desktop.
            p.drawPixmap(QPoint(x + 6, 4), QtStatusItem::statusIcon(name).pixmap(QSize(22, 22), devicePixelRatioF()));
            x += 34;
        }
    }

private:
    std::vector<std::string> icons_;
    bool light_ = false;
};

// The menus on a hub of fakes, drawn by the real tray item.
class TrayRig final : public QWidget {
public:
    TrayRig() {
        std::vector<LocationsListItemPtr> items;
        const std::vector<std::pair<const char*, std::vector<QColor>>> flags = {
            {"Netherlands", {QColor(174, 28, 40), Qt::white, QColor(33, 70, 139)}},
            {"Germany", {Qt::black, QColor(221, 0, 0), QColor(255, 206, 0)}},
            {"United Kingdom", {QColor(1, 33, 105), QColor(200, 16, 46), QColor(1, 33, 105)}},
            {"United States", {QColor(178, 34, 52), Qt::white, QColor(60, 59, 110)}},
            {"Canada", {QColor(216, 6, 33), Qt::white, QColor(216, 6, 33)}},
            {"Japan", {Qt::white, QColor(188, 0, 45), Qt::white}},
        };
        for (const auto& [name, colours] : flags) {
            auto item = std::make_shared<LocationsListItemModel>(name, name);
            item->flag = std::make_shared<ParseFile>(std::weak_ptr<ParseCore>{}, std::string(name) + ".png",
                                                     std::string("https://files.test/") + name, std::nullopt, "image/png");
            images[item->flag->url()] = stripes(colours);
            items.push_back(item);
        }
        hub = std::make_unique<ServiceLayer>(factory);
        controller = std::make_unique<MenuBarMenuController>(
            hub->appModel(), commands,
            [this](const ParseFilePtr& f, std::function<void(ImagePtr)> reply) { reply(images[f->url()]); },
            factory->queue);
        controller->locationsListModel = std::make_shared<LocationsListModel>(std::move(items));
        controller->prepareMenu();
    }
    ~TrayRig() override {
        item.reset();
        controller.reset();
        hub.reset();
    }
    void connected() {
        auto& c = controller->connectionDetailsCallbacks;
        c.fireVPNProtocolUpdated(" OpenVPN");
        c.fireIPaddressUpdated("185.107.56.21");
        c.fireConnectionStatusUpdated("Connected");
        c.fireConnectButtonStateChanged("DISCONNECT");
        c.fireChosenLocationChanged(*row(0));
    }
    LocationsListItemPtr row(std::size_t i) { return controller->locationsListModel->listWithOutGroups()[i]; }
    void disconnected() {
        auto& c = controller->connectionDetailsCallbacks;
        c.fireIPaddressUpdated("203.0.113.7");
        c.fireConnectionStatusUpdated("Disconnected");
        c.fireConnectButtonStateChanged("CONNECT");
    }
    // Shows the menu under the panel's item, and the location submenu beside it.
    void show(ShotStage& stage, Panel& panel, const MenuPtr& menu, bool withLocations) {
        item = std::make_unique<QtStatusItem>();
        item->setMenu(menu);
        stage.afterShown([this, &panel, withLocations] {
            QMenu* root = item->qmenu();
            root->popup(panel.mapToGlobal(QPoint(panel.width() - 260, panel.height() + 2)));
            if (!withLocations) return;
            for (QAction* a : root->actions()) {
                if (!a->menu()) continue;
                const QRect r = root->actionGeometry(a);
                a->menu()->popup(root->mapToGlobal(QPoint(root->width() - 4, r.top())));
            }
        });
    }

    std::shared_ptr<test::FakeHubFactory> factory = std::make_shared<test::FakeHubFactory>();
    std::unique_ptr<ServiceLayer> hub;
    test::RecordingMenuCommands commands;
    std::map<std::string, ImagePtr> images;
    std::unique_ptr<MenuBarMenuController> controller;
    std::unique_ptr<QtStatusItem> item;
};

HW_SHOT("tray.icons", [](ShotStage& stage) {
    stage.window<Panel>(std::vector<std::string>(std::begin(kIcons), std::end(kIcons))).show();
});

HW_SHOT("tray.icons-light-panel", [](ShotStage& stage) {
    stage.window<Panel>(std::vector<std::string>(std::begin(kIcons), std::end(kIcons)), true).show();
});

// The panel with this icon and, under it, the menu `pick` chooses after `state`.
void menuShot(const char* name, const char* icon, MenuPtr ShellMenus::*pick, bool withLocations,
              std::function<void(TrayRig&)> state = nullptr) {
    addShot(name, [=](ShotStage& stage) {
        auto& panel = stage.window<Panel>(std::vector<std::string>{icon});
        panel.show();
        auto& rig = stage.window<TrayRig>();
        if (state) state(rig);
        rig.show(stage, panel, rig.controller->menus().*pick, withLocations);
    });
}

HW_SHOTS({
    menuShot("tray.menu-default", "MenuBar_icon_DISCONNECTED", &ShellMenus::default_menuBarMenu, false);
    menuShot("tray.menu-full", "MenuBar_icon_CONNECTED", &ShellMenus::menuBarMenu, false, [](TrayRig& r) { r.connected(); });
    menuShot("tray.menu-no-internet", "MenuBar_icon_DISCONNECTED", &ShellMenus::noInternetConnection_menu, false);
    menuShot("tray.menu-locations", "MenuBar_icon_DISCONNECTED", &ShellMenus::menuBarMenu, true, [](TrayRig& r) {
        r.disconnected();
        r.controller->connectionDetailsCallbacks.fireChosenLocationChanged(*r.row(1));
    });
    menuShot("tray.menu-locked", "MenuBar_icon_CONNECTING_2", &ShellMenus::menuBarMenu, true, [](TrayRig& r) {
        r.connected();
        r.controller->connectionDetailsCallbacks.fireConnectionStatusUpdated("Connecting");
        r.controller->connectionDetailsCallbacks.fireConnectButtonStateChanged("CONNECTING      ");
        r.hub->appModel().setVpnSettingsChangingDisabled(true);
    });
});

}  // namespace
}  // namespace hw::shots
