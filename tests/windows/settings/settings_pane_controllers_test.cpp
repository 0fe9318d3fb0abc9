#include <gtest/gtest.h>

#include "settings_window_fixture.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;
using Protocols = Settings_VPNProtocolsOptionsController;

TEST(SettingsProtocolPane, EveryOfferedCellReachesTheEngineAsItsOwnProtocol) {
    // A cell whose stored text the state object reads as something else
    // would quietly connect with another protocol.
    KitControllerFixture kit;
    const std::map<VPNProtocols, VPNTypes> expected = {{VPNProtocols::Automatic, VPNTypesAutomatic},
                                                       {VPNProtocols::OpenVPN, VPNTypesOpenVPN},
                                                       {VPNProtocols::L2TP, VPNTypesL2TP},
                                                       {VPNProtocols::IKEv2_StrongSwan, VPNTypesIKEv2_StrongSwan}};
    const auto choices = Protocols::protocolChoices();
    ASSERT_EQ(choices.size(), expected.size());
    for (std::size_t i = 0; i < choices.size(); ++i) {
        const std::string stored(rawValue(choices[i].protocol));
        kit.model.applySettings({{Keys::vpnProtocols, SettingValue(std::string(" OpenVPN"))}});
        kit.model.applySettings({{Keys::vpnProtocols, SettingValue(stored)}});
        EXPECT_EQ(kit.model.vpnProtocol, expected.at(choices[i].protocol)) << '"' << stored << '"';
        EXPECT_EQ(Protocols::choiceIndex(stored), int(i));
        EXPECT_FALSE(choices[i].description.empty());
    }
    EXPECT_EQ(Protocols::choiceIndex(" IKEv2"), -1) << "the platform's IKEv2 is not this cell";
    EXPECT_EQ(Protocols::choiceIndex(" PPTP"), -1);
    EXPECT_EQ(Protocols::choiceIndex("OpenVPN"), -1) << "raw values are exact";
}

TEST(SettingsProtocolPane, AutomaticDescriptionFollowsTheAutomaticOrder) {
    const std::string& text = LocaleData::settings_window_vpn_protocols_automatic_description();
    const auto ikev2 = text.find("IKEv2"), openvpn = text.find("OpenVPN"), l2tp = text.find("L2TP");
    ASSERT_NE(ikev2, std::string::npos);
    EXPECT_LT(ikev2, openvpn);
    EXPECT_LT(openvpn, l2tp);
    EXPECT_EQ(text.find("PPTP"), std::string::npos) << "never tried automatically";
}

TEST(SettingsProtocolPane, EnablingSwitchIsDirectAndIdempotent) {
    KitControllerFixture kit;
    RecordingProtocolsPane pane;
    int changes = 0;
    Protocols controller(kit.context, pane, [&] { ++changes; });
    controller.loadViewIfNeeded();
    EXPECT_EQ(pane.header, LocaleData::settings_window_vpn_protocols_header_label());
    EXPECT_EQ(pane.groupEnabled, true);
    for (int i = 0; i < 2; ++i) controller.disableProtocolsChanging();
    EXPECT_EQ(pane.groupEnabled, false);
    EXPECT_FALSE(controller.protocolsChangingEnabled());
    controller.enableProtocolsChanging();
    controller.enableProtocolsChanging();
    EXPECT_EQ(pane.groupEnabled, true);
    EXPECT_EQ(changes, 0) << "enabling is no choice";
    controller.onProtocolChosen();
    EXPECT_EQ(changes, 1);
}

TEST(SettingsPanes, PanesLoadOnceAndTheirClicksReachTheWindow) {
    SettingsWindowFixture f;
    f.open();
    f.controller->close();
    f.view.general.boxes.clear();
    f.open();
    EXPECT_TRUE(f.view.general.boxes.empty()) << "a second opening builds nothing again";

    ASSERT_EQ(f.view.protocols.choices.size(), Protocols::protocolChoices().size());
    EXPECT_EQ(f.view.support.links, (std::vector<std::string>{LocaleData::settings_window_support_create_ticket_label(),
                                                              LocaleData::settings_window_support_run_speed_test_label()}));

    f.controller->generalOptionsController().onOptionChanged();
    EXPECT_FALSE(f.controller->applyEnabled()) << "nothing edited yet";
    f.edit(Keys::startMinimized, true);
    f.controller->generalOptionsController().onOptionChanged();
    EXPECT_TRUE(f.controller->applyEnabled());
    f.controller->cancelChanges();
    f.open();
    f.edit(Keys::vpnProtocols, std::string(" IKEv2 "));
    f.controller->vpnProtocolsViewController().onProtocolChosen();
    EXPECT_TRUE(f.controller->applyEnabled());

    auto& support = f.controller->supportOptionsController();
    support.onLinkClicked(Settings_SupportOptionsController::createTicketField);
    EXPECT_TRUE(f.view.supportSheet);
    f.speedTest = "https://speed.havenway.test/";
    support.onLinkClicked(Settings_SupportOptionsController::runASpeedTestField);
    support.onLinkClicked(7);
    EXPECT_EQ(f.urlOpener.opened, std::vector<std::string>{"https://speed.havenway.test/"});
}

TEST(SettingsPanes, SignInBoxSaysWhatItDrives) {
    const auto boxes = Settings_GeneralOptionsController::optionBoxes();
    const auto it = std::find_if(boxes.begin(), boxes.end(),
                                 [](const auto& box) { return box.key == std::string(Keys::signMeInWhenHavenwayStarts); });
    ASSERT_NE(it, boxes.end());
    EXPECT_EQ(it->text.find("Connect"), std::string::npos) << "nothing connects at start";
    EXPECT_NE(it->text.find("Sign me in"), std::string::npos);
}

TEST(SettingsPanes, OpeningOnAPaneSelectsItInTheTabBarAndReadsTheLock) {
    SettingsWindowFixture f;
    f.open();
    f.model.setVpnSettingsChangingDisabled(true);
    f.view.protocols.groupEnabled.reset();
    EXPECT_TRUE(f.controller->selectPaneWithIdentifier("com.havenway.Havenway.TouchBarItem.ProtocolItem"));
    EXPECT_EQ(f.view.tab, "2");
    EXPECT_EQ(f.view.bar.selectedIdentifier(), "com.havenway.Havenway.TouchBarItem.ProtocolItem");
    f.queue.runUntilIdle();
    EXPECT_EQ(f.view.protocols.groupEnabled, false);

    EXPECT_FALSE(f.controller->selectPaneWithIdentifier("Protocol"));
    EXPECT_EQ(f.view.tab, "2");
}

}  // namespace
}  // namespace hw::test
