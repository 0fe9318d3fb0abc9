#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "view/do_tabbar.h"
#include "windows/settings/settings_pane_controllers.h"
#include "windows/settings/settings_trusted_networks.h"
#include "windows/settings/settings_window_logic.h"

namespace hw {

// What the settings window's controller asks of its window. The check boxes
// and the protocol choice are bound to the pending settings by the window
// itself; the controller only hears of their changes.
class SettingsWindowView {
public:
    virtual ~SettingsWindowView() = default;

    virtual void setApplyEnabled(bool enabled) = 0;
    // Locked with the protocol choice while a connection forbids changes.
    virtual void setKillSwitchCheckboxEnabled(bool enabled) = 0;
    virtual void setTrustedNetworksCheckboxEnabled(bool enabled) = 0;
    // The plus/minus control and the trusted table.
    virtual void setTrustedNetworksEditingEnabled(bool enabled) = 0;
    virtual NetworksTableView& trustedNetworksTable() = 0;
    // -1 without a selection.
    virtual long selectedTrustedNetworkRow() const = 0;
    virtual void setVersionText(const std::string& text) = 0;

    // The panes that have controllers of their own.
    virtual SettingsGeneralOptionsView& generalOptionsView() = 0;
    virtual SettingsVPNProtocolsOptionsView& vpnProtocolsOptionsView() = 0;
    virtual SettingsSupportOptionsView& supportOptionsView() = 0;

    // Tabbed layout.
    virtual DOTabbar& tabbar() = 0;
    virtual void selectTab(const std::string& tab) = 0;
    virtual std::string selectedTab() const = 0;

    // The add-network sheet.
    virtual void beginAddNetworkSheet() = 0;
    virtual void endAddNetworkSheet() = 0;
    // Spinner shown and turning, table disabled; or the reverse.
    virtual void setAddNetworkLoading(bool loading) = 0;
    // A line under the table; empty hides it.
    virtual void setAddNetworkMessage(const std::string& text) = 0;
    virtual NetworksTableView& availableNetworksTable() = 0;
    virtual long selectedAvailableNetworkRow() const = 0;

    // The support-request sheet; it keeps its topic and text between openings.
    virtual void beginSupportTicketSheet() = 0;
    virtual void endSupportTicketSheet() = 0;
    virtual std::string supportTopic() const = 0;
    // None when the body field is not there.
    virtual std::optional<std::string> supportTicketBody() const = 0;

    // The dimming cover behind the update sheet.
    virtual void fadeInAutoUpdateOverlay(double seconds) = 0;
    // The cover is transparent when done runs.
    virtual void fadeOutAutoUpdateOverlay(double seconds, std::function<void()> done) = 0;
    virtual void hideAutoUpdateOverlay() = 0;

    // List layout (no-ops in the tabbed one). Positions are y-up document
    // positions; the window converts them.
    virtual void reloadSettingsList(const std::vector<SettingsListItemModel>& rows) = 0;
    virtual void setSettingsListRowBackground(int row, const std::string& colour) = 0;
    virtual void selectSettingsListRow(int row) = 0;
    virtual void scrollDetailsToY(double y) = 0;
    virtual double detailsDocumentHeight() const = 0;
};

}  // namespace hw
