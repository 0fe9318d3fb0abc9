#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/trusted_network_item.h"
#include "platform/wifi.h"

namespace hw {

// A table that shows networks, one SSID per row.
class NetworksTableView {
public:
    virtual ~NetworksTableView() = default;
    virtual void reloadNetworks(const std::vector<TrustedNetworkItem>& rows) = 0;
};

// The trusted-networks table of the Wi-Fi pane and the working list it
// edits: one list for the whole process, filled from the state object at
// each opening, stored back only by Apply. Main thread only.
class SettingsTrustedNetworksTableViewController {
public:
    static std::vector<TrustedNetworkItem> trustedNetworkList;

    // Discards unapplied edits: the working list becomes the stored one.
    void setup(NetworksTableView* table, const std::vector<TrustedNetworkItem>& stored);
    // Appends, duplicates included.
    void addToTrustedNetworksWithInputItem(const TrustedNetworkItem& item);
    // A negative index or one past the end does nothing.
    void removeToTrustedNetworksWithInputIndex(long index);
    std::size_t numberOfRows() const { return trustedNetworkList.size(); }

private:
    void reload();
    NetworksTableView* tableView_ = nullptr;
};

// The add-network sheet's rows: the last scan less what is trusted already.
// Made anew for every filling of the sheet; main thread only (the scan
// itself runs elsewhere and is handed in).
class SettingsAddNetworkToTrustedTableViewController {
public:
    std::vector<TrustedNetworkItem> networkList;
    std::optional<std::vector<TrustedNetworkItem>> trustedNetworksList;
    std::function<void()> onTrustedNetworksLoaded;
    std::function<void(const TrustedNetworkItem&)> doubleClickHandler;

    void setup(NetworksTableView* table, std::vector<TrustedNetworkItem> trusted,
               std::function<void(const TrustedNetworkItem&)> handler);
    // Rebuilds the rows from a finished scan, shows them and reports it.
    void populateAvailableNetworksList(const std::vector<WiFiScanEntry>& scan);
    // Row -1 (outside the rows) or past the end passes nothing.
    void doubleClickOnNetworkRow(long row);
    // The network at a selected row; none without one.
    std::optional<TrustedNetworkItem> networkAt(long row) const;

private:
    NetworksTableView* tableView_ = nullptr;
};

}  // namespace hw
