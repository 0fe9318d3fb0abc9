// The settings window: each pane, its sheets and alerts, the protocol lock,
// and the list arrangement with its single page.
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QToolBar>
#include <QWidget>

#include "shots.h"
#include "view/kit_controls.h"
#include "windows/settings/settings_window_fixture.h"
#include "windows/settings/widgets/settings_entire_page_widget.h"
#include "windows/settings/widgets/settings_window_widget.h"

namespace hw::shots {
namespace {

using Keys = SettingsUserDefaults;

// The window on its controller over fakes; the rig itself is never shown.
class SettingsRig final : public QWidget {
public:
    explicit SettingsRig(SettingsLayout layout = SettingsLayout::Tabbed)
        : widget(defaults, layout),
          controller(kit.context, widget, widget,
                     SettingsWindowDependencies{defaults, shell, kit.queue, kit.background, [this] { return wifiInfo; },
                                                [this] { return newerVersion; }, {}, "support@havenway.test"},
                     widget.entirePage()) {
        defaults.setAppliesImmediately(false);
        widget.setController(&controller);
        shell.closeSettings = [this] { controller.close(); };
    }
    ~SettingsRig() override { widget.setController(nullptr); }

    void open() {
        controller.showWindow();
        widget.move(80, 80);
        settle();
    }
    void settle() {
        kit.background.runUntilIdle();
        kit.queue.runUntilIdle();
    }
    // A click on the tab bar's item.
    void choosePane(std::size_t index) { widget.tabbar().clickItem(settingsPaneItems()[index].identifier); }
    // What the user's click on a bound box does.
    void edit(const std::string& key, SettingValue value) { defaults.setValue(key, std::move(value)); }

    test::KitControllerFixture kit;
    UserDefaultsController defaults{kit.store};
    test::SettingsShellDouble shell;
    test::FakeWiFi wifi;
    std::shared_ptr<WiFi_InfoHelperObjC> wifiInfo = std::make_shared<WiFi_InfoHelperObjC>(wifi);
    bool newerVersion = false;
    SettingsWindowWidget widget;
    SettingsWindowViewController controller;
};

using Step = std::function<void(SettingsRig&)>;

// The tabbed window on one pane: `before` sets what it opens with, `then` acts at once, `shown` once on screen.
void settingsShot(const char* name, std::size_t pane, Step before = nullptr, Step then = nullptr, Step shown = nullptr) {
    addShot(name, [=](ShotStage& stage) {
        auto& rig = stage.window<SettingsRig>();
        if (before) before(rig);
        rig.open();
        rig.choosePane(pane);
        rig.settle();
        if (then) then(rig);
        if (shown) stage.afterShown([&rig, shown] { shown(rig); });
    });
}

QListWidget& list(NetworksTableView& table) { return dynamic_cast<NetworksListWidget&>(table); }
void trustHome(SettingsRig& rig) { rig.kit.model.trustedNetworks = {{"Home", "AA:BB:CC:00:00:01"}}; }
void checkForUpdates(SettingsRig& rig) { rig.controller.onCheckForUpdatesButtonClick(); }

HW_SHOTS({
    settingsShot("settings.general", 0);
    // Kill Switch chosen from the window's toolbar.
    settingsShot("settings.toolbar", 0, nullptr, [](SettingsRig& rig) { rig.widget.toolbar()->actions().at(3)->trigger(); });
    settingsShot("settings.protocol", 1, [](SettingsRig& rig) { rig.kit.store.set(Keys::vpnProtocols, std::string(" OpenVPN")); });
    settingsShot("settings.protocol-locked", 1, [](SettingsRig& rig) { rig.kit.model.setVpnSettingsChangingDisabled(true); });
    settingsShot(
        "settings.auto-wifi", 2,
        [](SettingsRig& rig) {
            rig.kit.model.trustedNetworks = {{"Home", "AA:BB:CC:00:00:01"}, {"Office 5G", "AA:BB:CC:00:00:02"}};
        },
        [](SettingsRig& rig) { list(rig.widget.trustedNetworksTable()).setCurrentRow(1); });
    settingsShot("settings.auto-wifi-off", 2, trustHome,
                 [](SettingsRig& rig) { rig.widget.checkBox(Keys::wi_fi_SecurityEnabled).click(); });
    settingsShot(
        "settings.add-network", 2,
        [](SettingsRig& rig) {
            trustHome(rig);
            rig.wifi.setScan({{"Home", "AA:BB:CC:00:00:01"},
                              {"Cafe Corner", "AA:BB:CC:00:00:10"},
                              {"Library Guest", "AA:BB:CC:00:00:11"},
                              {std::nullopt, "AA:BB:CC:00:00:12"},
                              {"Home", "AA:BB:CC:00:00:13"}});
        },
        nullptr,
        [](SettingsRig& rig) {
            rig.controller.onAuto_WiFi_Plus_Button_Click();
            rig.settle();
            list(rig.widget.availableNetworksTable()).setCurrentRow(0);
        });
    // Names an access point may give itself: a line end, an escape, octets that are not UTF-8, a bidi override.
    settingsShot(
        "settings.add-network-odd-names", 2, trustHome, nullptr,
        [](SettingsRig& rig) {
            rig.wifi.setScan({{"Two\nLines", "AA:BB:CC:00:00:20"},
                              {"Red\x1b[31mAlert", "AA:BB:CC:00:00:21"},
                              {"Caf\xe9 Latin-1", "AA:BB:CC:00:00:22"},
                              {"Caf\xc3\xa9 UTF-8", "AA:BB:CC:00:00:23"},
                              {"abc\xe2\x80\xaegnp.exe", "AA:BB:CC:00:00:24"}});
            rig.controller.onAuto_WiFi_Plus_Button_Click();
            rig.settle();
        });
    settingsShot(
        "settings.add-network-timed-out", 2, trustHome, nullptr,
        [](SettingsRig& rig) {
            rig.wifi.setScan({{"Cafe Corner", "AA:BB:CC:00:00:10"}}, true);
            rig.controller.onAuto_WiFi_Plus_Button_Click();
            rig.settle();
        });
    settingsShot("settings.kill-switch", 3, nullptr,
                 [](SettingsRig& rig) { rig.widget.checkBox(Keys::useNetworkLock).click(); });
    settingsShot("settings.kill-switch-locked", 3, [](SettingsRig& rig) { rig.kit.model.setVpnSettingsChangingDisabled(true); });
    settingsShot("settings.support", 4);
    settingsShot("settings.support-ticket", 4, nullptr, nullptr, [](SettingsRig& rig) {
        rig.controller.openSupportTicketButton_Click();
        rig.widget.supportTopicMenu().setCurrentIndex(1);
        rig.widget.supportTicketBodyField().setPlainText("The connection drops every few minutes on the office Wi-Fi.");
    });
    settingsShot("settings.up-to-date", 4, nullptr, nullptr, checkForUpdates);
    settingsShot(
        "settings.update-available", 4,
        [](SettingsRig& rig) {
            rig.newerVersion = true;
            rig.kit.model.useAutoUpdater = false;
        },
        nullptr, checkForUpdates);
});

HW_SHOT("settings.list", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>(SettingsLayout::List);
    rig.open();
    stage.afterShown([&rig] { rig.controller.tableViewShouldSelectRow(0); });
    stage.advanceAnimations(300);
});

HW_SHOT("settings.list-locked", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>(SettingsLayout::List);
    rig.kit.model.setVpnSettingsChangingDisabled(true);
    rig.open();
    rig.settle();
    stage.advanceAnimations(300);
});

HW_SHOT("settings.single-page-wifi-warning", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>(SettingsLayout::List);
    rig.open();
    stage.afterShown([&rig] {
        rig.controller.tableViewShouldSelectRow(1);
        rig.widget.entirePage()->wiFiSecurityCheckbox().click();
    });
    stage.advanceAnimations(400);
});

}  // namespace
}  // namespace hw::shots
