#include "windows/settings/settings_trusted_networks.h"

#include "platform/log.h"
#include "windows/settings/settings_window_logic.h"

namespace hw {

std::vector<TrustedNetworkItem> SettingsTrustedNetworksTableViewController::trustedNetworkList;

void SettingsTrustedNetworksTableViewController::setup(NetworksTableView* table,
                                                       const std::vector<TrustedNetworkItem>& stored) {
    tableView_ = table;
    trustedNetworkList = stored;
    reload();
}

void SettingsTrustedNetworksTableViewController::addToTrustedNetworksWithInputItem(const TrustedNetworkItem& item) {
    trustedNetworkList.push_back(item);
    reload();
}

void SettingsTrustedNetworksTableViewController::removeToTrustedNetworksWithInputIndex(long index) {
    if (index < 0 || std::size_t(index) >= trustedNetworkList.size()) return;
    trustedNetworkList.erase(trustedNetworkList.begin() + index);
    reload();
}

void SettingsTrustedNetworksTableViewController::reload() {
    if (tableView_) tableView_->reloadNetworks(trustedNetworkList);
}

void SettingsAddNetworkToTrustedTableViewController::setup(NetworksTableView* table,
                                                           std::vector<TrustedNetworkItem> trusted,
                                                           std::function<void(const TrustedNetworkItem&)> handler) {
    tableView_ = table;
    trustedNetworksList = std::move(trusted);
    doubleClickHandler = std::move(handler);
}

void SettingsAddNetworkToTrustedTableViewController::populateAvailableNetworksList(
    const std::vector<WiFiScanEntry>& scan) {
    static const std::vector<TrustedNetworkItem> none;
    networkList = availableNetworks(scan, trustedNetworksList ? *trustedNetworksList : none);
    if (tableView_) tableView_->reloadNetworks(networkList);
    if (onTrustedNetworksLoaded) onTrustedNetworksLoaded();
}

void SettingsAddNetworkToTrustedTableViewController::doubleClickOnNetworkRow(long row) {
    log::info("SettingsAddNetworkToTrustedTableViewController", "doubleClickOnResultRow: " + std::to_string(row));
    const auto network = networkAt(row);
    if (network && doubleClickHandler) doubleClickHandler(*network);
}

std::optional<TrustedNetworkItem> SettingsAddNetworkToTrustedTableViewController::networkAt(long row) const {
    if (row < 0 || std::size_t(row) >= networkList.size()) return std::nullopt;
    return networkList[std::size_t(row)];
}

}  // namespace hw
