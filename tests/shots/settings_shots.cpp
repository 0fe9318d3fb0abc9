// The settings window: each pane, its sheets and alerts, the protocol lock,
// and the list arrangement with its single page.
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QWidget>

#include "controllers/settings_entire_page_widget.h"
#include "controllers/settings_window_fixture.h"
#include "controllers/settings_window_widget.h"
#include "shots.h"
#include "view/kit_controls.h"

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

HW_SHOT("settings.general", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.open();
});

HW_SHOT("settings.protocol", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.kit.store.set(Keys::vpnProtocols, std::string(" OpenVPN"));
    rig.open();
    rig.choosePane(1);
    rig.settle();
});

HW_SHOT("settings.protocol-locked", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.kit.model.setVpnSettingsChangingDisabled(true);
    rig.open();
    rig.choosePane(1);
    rig.settle();
});

HW_SHOT("settings.auto-wifi", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.kit.model.trustedNetworks = {{"Home", "AA:BB:CC:00:00:01"}, {"Office 5G", "AA:BB:CC:00:00:02"}};
    rig.open();
    rig.choosePane(2);
    static_cast<QListWidget&>(dynamic_cast<NetworksListWidget&>(rig.widget.trustedNetworksTable())).setCurrentRow(1);
});

HW_SHOT("settings.auto-wifi-off", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.kit.model.trustedNetworks = {{"Home", "AA:BB:CC:00:00:01"}};
    rig.open();
    rig.choosePane(2);
    rig.widget.checkBox(Keys::wi_fi_SecurityEnabled).click();
});

HW_SHOT("settings.add-network", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.kit.model.trustedNetworks = {{"Home", "AA:BB:CC:00:00:01"}};
    rig.wifi.setScan({{"Home", "AA:BB:CC:00:00:01"},
                      {"Cafe Corner", "AA:BB:CC:00:00:10"},
                      {"Library Guest", "AA:BB:CC:00:00:11"},
                      {std::nullopt, "AA:BB:CC:00:00:12"},
                      {"Home", "AA:BB:CC:00:00:13"}});
    rig.open();
    rig.choosePane(2);
    stage.afterShown([&rig] {
        rig.controller.onAuto_WiFi_Plus_Button_Click();
        rig.settle();
        static_cast<QListWidget&>(dynamic_cast<NetworksListWidget&>(rig.widget.availableNetworksTable())).setCurrentRow(0);
    });
});

HW_SHOT("settings.kill-switch", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.open();
    rig.choosePane(3);
    rig.widget.checkBox(Keys::useNetworkLock).click();
});

HW_SHOT("settings.support", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.open();
    rig.choosePane(4);
});

HW_SHOT("settings.support-ticket", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.open();
    rig.choosePane(4);
    stage.afterShown([&rig] {
        rig.controller.openSupportTicketButton_Click();
        rig.widget.supportTopicMenu().setCurrentIndex(1);
        rig.widget.supportTicketBodyField().setPlainText("The connection drops every few minutes on the office Wi-Fi.");
    });
});

HW_SHOT("settings.up-to-date", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.open();
    rig.choosePane(4);
    stage.afterShown([&rig] { rig.controller.onCheckForUpdatesButtonClick(); });
});

HW_SHOT("settings.update-available", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>();
    rig.newerVersion = true;
    rig.kit.model.useAutoUpdater = false;
    rig.open();
    rig.choosePane(4);
    stage.afterShown([&rig] { rig.controller.onCheckForUpdatesButtonClick(); });
});

HW_SHOT("settings.list", [](ShotStage& stage) {
    auto& rig = stage.window<SettingsRig>(SettingsLayout::List);
    rig.open();
    stage.afterShown([&rig] { rig.controller.tableViewShouldSelectRow(0); });
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
