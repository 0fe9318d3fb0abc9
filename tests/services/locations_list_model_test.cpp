#include "services/locations_list_model.h"

#include <gtest/gtest.h>

namespace hw {
namespace {

LocationsListItemPtr row(const std::string& id, const std::string& name, bool favorite = false, bool recommended = false) {
    auto r = std::make_shared<LocationsListItemModel>(id, name);
    r->isFavorite = favorite;
    r->isRecommended = recommended;
    return r;
}

std::vector<std::string> names(const std::vector<LocationsListItemPtr>& list) {
    std::vector<std::string> out;
    for (const auto& r : list) out.push_back(r->name);
    return out;
}

std::shared_ptr<LocationsListModel> sample() {
    return std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{
        row("nl", "Netherlands", false, true), row("de", "Germany", true, true), row("gb", "United Kingdom"),
        row("us", "United States", false, true), row("jp", "Japan", true)});
}

TEST(LocationsListModel, GroupsEachLocationOnceUnderItsHeaderInDisplayOrder) {
    auto model = sample();
    EXPECT_EQ(names(model->listWithGroups()),
              (std::vector<std::string>{"Favorites", "Germany", "Japan", "Most Recommended", "Netherlands",
                                        "United States", "All Locations", "United Kingdom"}));
    EXPECT_EQ(names(model->listWithOutGroups()),
              (std::vector<std::string>{"Germany", "Japan", "Netherlands", "United States", "United Kingdom"}));
    EXPECT_EQ(model->itemAt(99), nullptr) << "out of range answers nothing";
    EXPECT_FALSE(model->isGroupItemAt(99));
}

TEST(LocationsListModel, SearchFiltersIgnoringCaseAndDropsEmptyGroups) {
    auto model = sample();
    EXPECT_TRUE(model->applySearchString("UNITED"));
    EXPECT_EQ(names(model->listWithGroups()),
              (std::vector<std::string>{"Most Recommended", "United States", "All Locations", "United Kingdom"}));
    EXPECT_FALSE(model->applySearchString("UNITED")) << "the same text changes nothing";

    EXPECT_TRUE(model->applySearchString("jap"));
    EXPECT_TRUE(model->containsOnlyFavorites());
    auto gb = model->itemWithObjectId("gb");
    ASSERT_TRUE(gb) << "the lookup searches the full list, not the filtered one";
    EXPECT_FALSE(model->indexOfItem(gb.get())) << "a filtered-out row has no index";

    EXPECT_TRUE(model->applySearchString(""));
    EXPECT_EQ(model->listWithOutGroups().size(), 5u);
}

TEST(LocationsListModel, LookupIsExactAndIndexIsByIdentity) {
    auto model = sample();
    EXPECT_EQ(model->itemWithObjectId("NL"), nullptr);
    auto nl = model->itemWithObjectId("nl");
    ASSERT_TRUE(nl);
    EXPECT_EQ(model->indexOfItem(nl.get()), 4u);
    EXPECT_FALSE(model->indexOfItem(nl->clone().get())) << "a copy is another row";
}

TEST(LocationsListModel, StarSavesTheFavouritesAndRebuildMovesTheRow) {
    auto model = sample();
    std::vector<std::vector<std::string>> saved;
    model->onFavoritesChanged = [&](const std::vector<std::string>& ids) { saved.push_back(ids); };
    auto gb = model->itemWithObjectId("gb");
    gb->toggleFavoriteFlag();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0], (std::vector<std::string>{"de", "gb", "jp"}));
    model->rebuildLists();
    EXPECT_TRUE(model->allOthers().empty());

    auto copy = gb->clone();
    copy->toggleFavoriteFlag();
    EXPECT_EQ(saved.size(), 1u) << "a copy outside the list does not save the list";
}

TEST(LocationsListModel, RowsThatOutliveTheirListDoNotReachIt) {
    LocationsListItemPtr kept;
    {
        auto model = sample();
        model->onFavoritesChanged = [](const std::vector<std::string>&) { FAIL() << "the list is gone"; };
        kept = model->itemWithObjectId("nl");
    }
    kept->toggleFavoriteFlag();
    EXPECT_TRUE(kept->isFavorite);
}

TEST(VPNParseConfig, ResolvedAddressReplacesTheRemoteLinesOnly) {
    auto config = VPNParseConfig::fromJSON(
        "nl", JSON::dictionaryLiteral({{"dnsPrefix", "nl1"},
                                       {"ovpnConfigWithDNSName", "client\nremote nl1.vpn.test 1194\nremote-cert-tls server\n"}}));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->serverHostName("vpn.test"), "nl1.vpn.test");
    EXPECT_TRUE(config->setVPNServerIPAddress("10.1.2.3"));
    EXPECT_EQ(*config->ovpnConfig(), "client\nremote 10.1.2.3 1194\nremote-cert-tls server\n");

    EXPECT_FALSE(config->setVPNServerIPAddress("1.2.3.4 1194\nscript-security 3")) << "no text can reach the config";
    EXPECT_FALSE(config->setVPNServerIPAddress(std::string("1.2.3.4\0\nscript-security 3", 26))) << "nor behind a NUL";
    EXPECT_EQ(config->vpnServerIPAddress, "10.1.2.3");
    EXPECT_TRUE(config->setVPNServerIPAddress("2001:db8::1"));

    config->resetResolvedServer();
    EXPECT_EQ(*config->ovpnConfig(), "client\nremote nl1.vpn.test 1194\nremote-cert-tls server\n");
}

TEST(VPNParseConfig, RefusesAnObjectWithoutAHostLabel) {
    for (const char* prefix : {"a b", "nl1\nremote evil"})
        EXPECT_FALSE(VPNParseConfig::fromJSON("x", JSON::dictionaryLiteral({{"dnsPrefix", prefix}}))) << prefix;
    EXPECT_FALSE(VPNParseConfig::fromJSON("x", JSON::dictionaryLiteral({{"name", "No prefix"}})));
}

}  // namespace
}  // namespace hw
