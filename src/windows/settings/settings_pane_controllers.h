#pragma once
#include <functional>
#include <string>
#include <vector>

#include "core/vpn_protocols.h"
#include "view/base_view_controller.h"

// The General, Protocol and Support panes of the tabbed settings window: what
// each shows and where its clicks go. The boxes and radio cells are bound to
// the pending settings by the window; the panes only hear of changes.
namespace hw {

// A check box and the setting it is bound to.
struct SettingsOptionBox {
    std::string text;
    const char* key;
};

class SettingsGeneralOptionsView {
public:
    virtual ~SettingsGeneralOptionsView() = default;
    virtual void setHeaderText(const std::string& text) = 0;
    virtual void showOptionBoxes(const std::vector<SettingsOptionBox>& boxes) = 0;
};

class Settings_GeneralOptionsController final : public BaseViewController {
public:
    Settings_GeneralOptionsController(const BaseControllerContext& context, SettingsGeneralOptionsView& view,
                                      std::function<void()> onParametersChanges);

    // In the order shown.
    static std::vector<SettingsOptionBox> optionBoxes();
    // Any box of the pane was clicked.
    void onOptionChanged();

protected:
    void setupComponents() override;

private:
    SettingsGeneralOptionsView& view_;
    std::function<void()> onParametersChanges_;
};

// A radio cell: what choosing it stores, its title and the text under it.
struct SettingsProtocolChoice {
    VPNProtocols protocol;
    std::string title;
    std::string description;
};

class SettingsVPNProtocolsOptionsView {
public:
    virtual ~SettingsVPNProtocolsOptionsView() = default;
    virtual void setHeaderText(const std::string& text) = 0;
    virtual void showProtocolChoices(const std::vector<SettingsProtocolChoice>& choices) = 0;
    virtual void setProtocolsGroupEnabled(bool enabled) = 0;
};

class Settings_VPNProtocolsOptionsController final : public BaseViewController {
public:
    Settings_VPNProtocolsOptionsController(const BaseControllerContext& context, SettingsVPNProtocolsOptionsView& view,
                                           std::function<void()> onVPNProtocolSelectionChanged);

    // Every protocol a stored choice can name. IKEv2 is the strongSwan one
    // (the platform's own is not offered on Linux); PPTP is left out because
    // a stored " PPTP" reads as Automatic.
    static std::vector<SettingsProtocolChoice> protocolChoices();
    // The cell of a stored protocol text; -1 for a text no cell stores.
    static int choiceIndex(const std::string& storedText);

    void disableProtocolsChanging();
    void enableProtocolsChanging();
    bool protocolsChangingEnabled() const { return enabled_; }
    // A cell became the chosen one.
    void onProtocolChosen();

protected:
    void setupComponents() override;

private:
    void setEnabled(bool enabled);

    SettingsVPNProtocolsOptionsView& view_;
    std::function<void()> onSelectionChanged_;
    bool enabled_ = true;
};

class SettingsSupportOptionsView {
public:
    virtual ~SettingsSupportOptionsView() = default;
    virtual void setHeaderText(const std::string& text) = 0;
    // Link titles in order; a click reports the link's index.
    virtual void showLinks(const std::vector<std::string>& titles) = 0;
    virtual void setCheckForUpdatesTitle(const std::string& title) = 0;
};

class Settings_SupportOptionsController final : public BaseViewController {
public:
    struct Actions {
        std::function<void()> openSupportTicket;
        std::function<void()> runSpeedTest;
        std::function<void()> checkForUpdates;
    };
    // The knowledge base is the window's bottom-bar link, not the pane's.
    enum Link { createTicketField, runASpeedTestField };

    Settings_SupportOptionsController(const BaseControllerContext& context, SettingsSupportOptionsView& view,
                                      Actions actions);

    // Any other index does nothing.
    void onLinkClicked(int index);
    void onCheckForUpdatesClick();

protected:
    void setupComponents() override;

private:
    SettingsSupportOptionsView& view_;
    Actions actions_;
};

}  // namespace hw
