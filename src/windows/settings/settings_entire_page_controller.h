#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "view/base_view_controller.h"

namespace hw {

// What the single page's controller asks of its view.
class SettingsEntirePageView {
public:
    virtual ~SettingsEntirePageView() = default;
    virtual void setProtocolMenuItems(const std::vector<std::string>& titles) = 0;
    virtual void selectProtocolMenuItem(int index) = 0;
    virtual int selectedProtocolMenuItem() const = 0;
    virtual void setProtocolDescription(const std::string& text) = 0;
    // The pop-up and the kill-switch box.
    virtual void setProtocolsChangingEnabled(bool enabled) = 0;
    virtual void setVersionText(const std::string& text) = 0;
    virtual void setWiFiDescriptionPaddingBottom(double points) = 0;
    virtual void hideKeepEnabledAlert() = 0;
    // Shown at once, raised by the offset (y-up) and slid back into place.
    virtual void slideInKeepEnabledAlert(double offset) = 0;
};

// The single page: every option at once, the protocol as a pop-up with its
// description, and the warning that slides in while Wi-Fi security is off.
// Its boxes are bound by the window; main thread only.
class Settings_EntirePageController final : public BaseViewController {
public:
    struct Links {
        std::function<std::optional<std::string>()> supportTicketURL;
        std::function<std::optional<std::string>()> knowledgeBaseURL;
        std::function<std::optional<std::string>()> speedTestURL;
    };
    Settings_EntirePageController(const BaseControllerContext& context, SettingsEntirePageView& view, Links links);

    const std::vector<std::string> VPN_PROTOCOLS_LIST;

    void setupVPNProtocolsDropdownMenu();
    void selectVPNProtocol(int index);
    void changeVPNProtocolDescription(int index);
    void onVPNProtocolsDropdownChanged();
    void populateCopyrightField();
    void disableProtocolsChanging() { view_.setProtocolsChangingEnabled(false); }
    void enableProtocolsChanging() { view_.setProtocolsChangingEnabled(true); }
    void onWiFiSecurity_Enabled_Changed(bool on);
    void set_WiFiUnsecured_Enabled_state();
    void set_WiFiUnsecured_Disabled_state();
    void onOpenSupportTicket_click() { open(links_.supportTicketURL); }
    void onKnowledgeBase_click() { open(links_.knowledgeBaseURL); }
    void onRunSpeedTest_click() { open(links_.speedTestURL); }

private:
    void open(const std::function<std::optional<std::string>()>& link) const;

    SettingsEntirePageView& view_;
    Links links_;
};

}  // namespace hw
