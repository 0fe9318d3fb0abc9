#pragma once
// The settings window's controller on recording views, a recording shell,
// pending settings over a fake store and a scripted Wi-Fi, in virtual time.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/settings_user_defaults.h"
#include "network/wifi_info_helper.h"
#include "support/fake_wifi.h"
#include "support/kit_controller_fixture.h"
#include "support/recording_shell_commands.h"
#include "support/recording_window_view.h"
#include "view/user_defaults_controller.h"
#include "windows/settings/settings_window_view_controller.h"

namespace hw::test {

class RecordingNetworksTable final : public NetworksTableView {
public:
    std::vector<TrustedNetworkItem> rows;
    int reloads = 0;
    long selected = -1;
    void reloadNetworks(const std::vector<TrustedNetworkItem>& r) override {
        rows = r;
        ++reloads;
    }
};

class RecordingGeneralPane final : public SettingsGeneralOptionsView {
public:
    std::string header;
    std::vector<SettingsOptionBox> boxes;
    void setHeaderText(const std::string& t) override { header = t; }
    void showOptionBoxes(const std::vector<SettingsOptionBox>& b) override { boxes = b; }
};

class RecordingProtocolsPane final : public SettingsVPNProtocolsOptionsView {
public:
    std::string header;
    std::vector<SettingsProtocolChoice> choices;
    std::optional<bool> groupEnabled;
    int enables = 0;
    void setHeaderText(const std::string& t) override { header = t; }
    void showProtocolChoices(const std::vector<SettingsProtocolChoice>& c) override { choices = c; }
    void setProtocolsGroupEnabled(bool e) override {
        groupEnabled = e;
        ++enables;
    }
};

class RecordingSupportPane final : public SettingsSupportOptionsView {
public:
    std::string header, checkTitle;
    std::vector<std::string> links;
    void setHeaderText(const std::string& t) override { header = t; }
    void showLinks(const std::vector<std::string>& titles) override { links = titles; }
    void setCheckForUpdatesTitle(const std::string& t) override { checkTitle = t; }
};

class RecordingSettingsWindowView final : public SettingsWindowView {
public:
    std::optional<bool> applyEnabled, killSwitchEnabled, trustedCheckboxEnabled, trustedEditingEnabled;
    RecordingGeneralPane general;
    RecordingProtocolsPane protocols;
    RecordingSupportPane support;
    std::string version;
    std::string tab = "1";
    DOTabbar bar;
    RecordingNetworksTable trusted, available;
    bool addSheet = false, supportSheet = false;
    std::optional<bool> addLoading;
    std::string addMessage;
    std::string topic = "Billing";
    std::optional<std::string> body = std::string();
    std::vector<std::string> overlay;  // "in 0.3", "out 1.0", "hide"
    std::function<void()> fadeOutDone;
    std::vector<SettingsListItemModel> listRows;
    std::map<int, std::string> rowColours;
    int listSelection = -1;
    std::vector<double> scrolls;
    double documentHeight = 1010.0;

    void setApplyEnabled(bool e) override { applyEnabled = e; }
    void setKillSwitchCheckboxEnabled(bool e) override { killSwitchEnabled = e; }
    SettingsGeneralOptionsView& generalOptionsView() override { return general; }
    SettingsVPNProtocolsOptionsView& vpnProtocolsOptionsView() override { return protocols; }
    SettingsSupportOptionsView& supportOptionsView() override { return support; }
    void setTrustedNetworksCheckboxEnabled(bool e) override { trustedCheckboxEnabled = e; }
    void setTrustedNetworksEditingEnabled(bool e) override { trustedEditingEnabled = e; }
    NetworksTableView& trustedNetworksTable() override { return trusted; }
    long selectedTrustedNetworkRow() const override { return trusted.selected; }
    void setVersionText(const std::string& t) override { version = t; }
    DOTabbar& tabbar() override { return bar; }
    void selectTab(const std::string& t) override { tab = t; }
    std::string selectedTab() const override { return tab; }
    void beginAddNetworkSheet() override { addSheet = true; }
    void endAddNetworkSheet() override { addSheet = false; }
    void setAddNetworkLoading(bool l) override { addLoading = l; }
    void setAddNetworkMessage(const std::string& t) override { addMessage = t; }
    NetworksTableView& availableNetworksTable() override { return available; }
    long selectedAvailableNetworkRow() const override { return available.selected; }
    void beginSupportTicketSheet() override { supportSheet = true; }
    void endSupportTicketSheet() override { supportSheet = false; }
    std::string supportTopic() const override { return topic; }
    std::optional<std::string> supportTicketBody() const override { return body; }
    void fadeInAutoUpdateOverlay(double s) override { overlay.push_back("in " + std::to_string(s).substr(0, 3)); }
    void fadeOutAutoUpdateOverlay(double s, std::function<void()> done) override {
        overlay.push_back("out " + std::to_string(s).substr(0, 3));
        fadeOutDone = std::move(done);
    }
    void hideAutoUpdateOverlay() override { overlay.push_back("hide"); }
    void reloadSettingsList(const std::vector<SettingsListItemModel>& rows) override { listRows = rows; }
    void setSettingsListRowBackground(int row, const std::string& colour) override { rowColours[row] = colour; }
    void selectSettingsListRow(int row) override { listSelection = row; }
    void scrollDetailsToY(double y) override { scrolls.push_back(y); }
    double detailsDocumentHeight() const override { return documentHeight; }
};

class RecordingEntirePageView final : public SettingsEntirePageView {
public:
    std::vector<std::string> menu;
    int selected = -1;
    std::string description, version;
    std::optional<bool> protocolsEnabled;
    std::vector<std::string> calls;
    void setProtocolMenuItems(const std::vector<std::string>& titles) override { menu = titles; }
    void selectProtocolMenuItem(int index) override { selected = index; }
    int selectedProtocolMenuItem() const override { return selected; }
    void setProtocolDescription(const std::string& text) override { description = text; }
    void setProtocolsChangingEnabled(bool e) override { protocolsEnabled = e; }
    void setVersionText(const std::string& text) override { version = text; }
    void setWiFiDescriptionPaddingBottom(double p) override { calls.push_back("padding " + std::to_string(int(p))); }
    void hideKeepEnabledAlert() override { calls.push_back("hide alert"); }
    void slideInKeepEnabledAlert(double offset) override { calls.push_back("slide " + std::to_string(int(offset))); }
};

inline std::optional<SettingValue> storedValue(const FakeSettingsStore& store, const std::string& key) {
    const auto all = store.stored();
    const auto it = all.find(key);
    return it == all.end() ? std::nullopt : std::optional<SettingValue>(it->second);
}

// The shell as the settings window sees it: closing the settings window
// closes the controller's window as the delegate does.
class SettingsShellDouble final : public RecordingShellCommands {
public:
    std::function<void()> closeSettings;
    std::function<void(WindowView&)> onStartAutoUpdater;

    void closeSettingsWindow() override {
        RecordingShellCommands::closeSettingsWindow();
        if (closeSettings) closeSettings();
    }
    void startAutoUpdater(WindowView& parent) override {
        RecordingShellCommands::startAutoUpdater(parent);
        if (onStartAutoUpdater) onStartAutoUpdater(parent);
    }
};

struct SettingsWindowFixture : KitControllerFixture {
    explicit SettingsWindowFixture(bool listLayout = false) {
        defaults.setAppliesImmediately(false);
        SettingsTrustedNetworksTableViewController::trustedNetworkList.clear();
        controller = std::make_unique<SettingsWindowViewController>(context, window, view, dependencies(),
                                                                    listLayout ? &page : nullptr);
        shell.closeSettings = [this] { controller->close(); };
    }
    SettingsWindowDependencies dependencies() {
        return SettingsWindowDependencies{
            defaults, shell, queue, background, [this] { return hasWiFi ? wifiInfo : nullptr; },
            [this] { return newerVersion; },
            {[this] { return supportTicket; }, [this] { return knowledgeBase; }, [this] { return speedTest; }},
            "support@havenway.test"};
    }

    // Shows the window and lets its queued view changes land.
    void open() {
        controller->showWindow();
        queue.runUntilIdle();
    }
    // What a bound control does when the user changes it.
    void edit(const std::string& key, SettingValue value) { defaults.setValue(key, std::move(value)); }
    std::optional<SettingValue> stored(const std::string& key) const { return storedValue(store, key); }

    UserDefaultsController defaults{store};
    RecordingWindowView window;
    RecordingSettingsWindowView view;
    RecordingEntirePageView page;
    SettingsShellDouble shell;
    FakeWiFi wifi;
    std::shared_ptr<WiFi_InfoHelperObjC> wifiInfo = std::make_shared<WiFi_InfoHelperObjC>(wifi);
    bool hasWiFi = true;
    bool newerVersion = false;
    std::optional<std::string> supportTicket, knowledgeBase, speedTest;
    std::unique_ptr<SettingsWindowViewController> controller;
};

}  // namespace hw::test
