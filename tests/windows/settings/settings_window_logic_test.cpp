#include <gtest/gtest.h>

#include "texts/locale_data.h"
#include "windows/settings/settings_trusted_networks.h"
#include "windows/settings/settings_window_logic.h"

namespace hw {
namespace {

TEST(SettingsProtocolChoice, CellsMapToStoredTextsByIndexNeverByTitle) {
    struct Row {
        std::string stored;
        std::optional<int> index;
    };
    const Row rows[] = {
        {" Automatic", 0}, {" OpenVPN", 1}, {" L2TP over IPSec", 2},
        // The radio title and the pop-up title are not stored texts.
        {" L2TP over IPSEC", std::nullopt}, {"L2TP over IPSec", std::nullopt},
        // Offered by no cell: the start-up turns the first two into automatic.
        {" PPTP", std::nullopt}, {" IKEv2", std::nullopt}, {" IKEv2 ", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(settingsProtocolIndex(row.stored), row.index) << '"' << row.stored << '"';
    EXPECT_EQ(settingsProtocolText(2), " L2TP over IPSec");
    EXPECT_EQ(settingsProtocolText(3), std::nullopt);
    EXPECT_EQ(settingsProtocolText(-1), std::nullopt);
}

TEST(SettingsProtocolChoice, DescriptionsOutsideTheTableFallBackToAutomatic) {
    EXPECT_EQ(vpnProtocolDescription(3), LocaleData::settings_window_vpn_protocols_pptp_description());
    for (int index : {5, -1})
        EXPECT_EQ(vpnProtocolDescription(index), LocaleData::settings_window_vpn_protocols_automatic_description());
}

TEST(SettingsListGeometry, BandsOwnTheirUpperBoundary) {
    const std::pair<double, int> rows[] = {{-3.0, 4}, {0.0, 4},   {202.0, 4}, {202.5, 3}, {395.0, 3},
                                           {395.5, 2}, {560.0, 2}, {560.5, 1}, {750.0, 1}, {750.5, 0}};
    for (const auto& [y, row] : rows) EXPECT_EQ(getRowIndexByYScrollPosition(y), row) << y;
}

TEST(SettingsListGeometry, EachSectionScrollsToAPositionThatSelectsItsOwnRow) {
    const double documentHeight = 1010.0;
    const auto rows = settingsListRows();
    ASSERT_EQ(rows.size(), 5u);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const double y = detailsYForSection(rows[row].section, documentHeight);
        EXPECT_EQ(getRowIndexByYScrollPosition(y), int(row)) << rows[row].header;
    }
    EXPECT_EQ(detailsYForSection(SettingsOptionsSections::wi_Fi_Security, documentHeight), 684.0);
}

TEST(SupportRequestMailto, SubjectAndBodyAreQueryValuesThatNoTextCanCut) {
    struct Row {
        const char* topic;
        const char* body;
        const char* expectedBody;
    };
    const Row rows[] = {
        {"Billing", "a b", "a%20b"},
        {"Billing", "x&cc=evil@example.com", "x%26cc%3Devil%40example.com"},
        {"Billing", "a=b", "a%3Db"},
        {"Billing", "", ""},
        {"Billing", "caf\xc3\xa9\n#1", "caf%C3%A9%0A%231"},
    };
    for (const auto& row : rows) {
        const auto link = supportRequestMailto("help@havenway.test", "Havenway Support Request: ", row.topic, row.body);
        EXPECT_EQ(link, std::string("mailto:help@havenway.test?subject=Havenway%20Support%20Request%3A%20%20Billing&body=") +
                            row.expectedBody)
            << row.body;
    }
    EXPECT_EQ(supportRequestMailto("a@b", "P: ", "T&x=1", "b"), "mailto:a@b?subject=P%3A%20%20T%26x%3D1&body=b");
}

TEST(AddNetworkFilter, OffersScannedNetworksThatAreNotTrustedYet) {
    using Scan = std::vector<WiFiScanEntry>;
    using Items = std::vector<TrustedNetworkItem>;
    const std::string octets("caf\xe9\x00x", 6);
    struct Row {
        const char* what;
        Scan scan;
        Items trusted;
        Items offered;
    };
    const Row rows[] = {
        {"empty scan", {}, {{"Home", "AA"}}, {}},
        {"nothing trusted: all, in scan order", {{"B", "2"}, {"A", "1"}}, {}, {{"B", "2"}, {"A", "1"}}},
        {"same SSID and BSSID left out, other BSSID offered",
         {{"Home", "AA"}, {"Home", "BB"}}, {{"Home", "AA"}}, {{"Home", "BB"}}},
        {"BSSID compared exactly", {{"Home", "aa"}}, {{"Home", "AA"}}, {{"Home", "aa"}}},
        {"missing SSID or BSSID never listed", {{std::nullopt, "1"}, {"A", std::nullopt}, {"C", "3"}}, {}, {{"C", "3"}}},
        {"duplicates kept", {{"A", "1"}, {"A", "1"}}, {}, {{"A", "1"}, {"A", "1"}}},
        {"octets kept as they are", {{octets, "1"}}, {}, {{octets, "1"}}},
    };
    for (const auto& row : rows) EXPECT_EQ(availableNetworks(row.scan, row.trusted), row.offered) << row.what;
}

class RecordingTable final : public NetworksTableView {
public:
    std::vector<TrustedNetworkItem> rows;
    void reloadNetworks(const std::vector<TrustedNetworkItem>& r) override { rows = r; }
};

TEST(TrustedNetworksWorkingList, EditsStayInTheOneListUntilSetupResetsIt) {
    RecordingTable table;
    SettingsTrustedNetworksTableViewController first;
    const std::vector<TrustedNetworkItem> stored = {{"Home", "AA"}, {"Office", "BB"}};
    first.setup(&table, stored);
    first.addToTrustedNetworksWithInputItem({"Cafe", "CC"});
    first.addToTrustedNetworksWithInputItem({"Cafe", "CC"});
    EXPECT_EQ(first.numberOfRows(), 4u) << "the same network added twice gives two entries";
    for (long index : {-1L, 4L, 99L}) first.removeToTrustedNetworksWithInputIndex(index);
    EXPECT_EQ(first.numberOfRows(), 4u);
    first.removeToTrustedNetworksWithInputIndex(0);
    EXPECT_EQ(table.rows.front(), (TrustedNetworkItem{"Office", "BB"}));

    SettingsTrustedNetworksTableViewController second;
    EXPECT_EQ(second.numberOfRows(), 3u) << "one list for every instance";
    second.setup(&table, stored);
    EXPECT_EQ(SettingsTrustedNetworksTableViewController::trustedNetworkList, stored);
}

TEST(AddNetworkSheetRows, DoubleClickOutsideTheRowsPassesNothing) {
    SettingsAddNetworkToTrustedTableViewController sheet;
    std::vector<TrustedNetworkItem> chosen;
    int loaded = 0;
    sheet.onTrustedNetworksLoaded = [&] { ++loaded; };
    sheet.setup(nullptr, {}, [&](const TrustedNetworkItem& n) { chosen.push_back(n); });
    sheet.populateAvailableNetworksList({});
    EXPECT_EQ(loaded, 1) << "an empty scan still reports";
    sheet.populateAvailableNetworksList({{"A", "1"}, {"B", "2"}});
    for (long row : {-1L, 2L}) sheet.doubleClickOnNetworkRow(row);
    EXPECT_TRUE(chosen.empty());
    sheet.doubleClickOnNetworkRow(1);
    EXPECT_EQ(chosen, (std::vector<TrustedNetworkItem>{{"B", "2"}}));
}

}  // namespace
}  // namespace hw
