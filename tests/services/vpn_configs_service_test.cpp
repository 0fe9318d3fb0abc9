#include "services/vpn_configs_service.h"

#include "support/services_fixture.h"

namespace hw {
namespace {

class VPNConfigsServiceTest : public test::ServicesFixture {
protected:
    VPNConfigsServiceTest() {
        backend.classes["VPNConfig"] = {location("de", "Germany", 2, true), location("nl", "Netherlands", 1, true),
                                        location("jp", "Japan", 3)};
        backend.classes["FavoriteVPNConfig"] = {favorite("jp")};
    }

    struct Result {
        std::shared_ptr<LocationsListModel> model;
        OptionalParseError error;
        int calls = 0;
    };
    Result load(VPNConfigsService& service, bool useCache) {
        Result r;
        service.loadLocationsList(useCache, [&r](std::shared_ptr<LocationsListModel> m, OptionalParseError e) {
            r.model = std::move(m);
            r.error = std::move(e);
            ++r.calls;
        });
        queue.runUntilIdle();
        return r;
    }
    // The pages asked; a list's count goes beside its first page.
    std::size_t configQueries() const {
        std::size_t pages = 0;
        for (const auto& r : backend.requestsTo("/classes/VPNConfig")) pages += r.url.find("count=1") == std::string::npos;
        return pages;
    }
};

TEST_F(VPNConfigsServiceTest, NetworkLoadBuildsTheOrderedListWithTheUsersFavourites) {
    signIn();
    VPNConfigsService service(*parse);
    auto r = load(service, false);
    ASSERT_EQ(r.calls, 1);
    ASSERT_TRUE(r.model) << (r.error ? r.error->message : "");
    const auto& flat = r.model->listWithOutGroups();
    ASSERT_EQ(flat.size(), 3u);
    EXPECT_EQ(flat[0]->objectId, "jp") << "favourites first";
    EXPECT_EQ(flat[1]->objectId, "nl") << "then by sort order";
    auto nl = r.model->itemWithObjectId("nl");
    ASSERT_TRUE(nl->vpnConfig);
    EXPECT_EQ(nl->flag_px, std::optional<double>(0.5));
    EXPECT_FALSE(nl->flag_py) << "a map position outside 0..1 is dropped";
}

TEST_F(VPNConfigsServiceTest, CacheServesTheLastNetworkLoadAndAnEmptyCacheFallsBack) {
    signIn();
    VPNConfigsService service(*parse);
    auto fromEmptyCache = load(service, true);
    ASSERT_TRUE(fromEmptyCache.model);
    EXPECT_EQ(configQueries(), 1u) << "an empty datastore falls back to the backend";

    backend.classes["VPNConfig"].clear();
    auto cached = load(service, true);
    ASSERT_TRUE(cached.model);
    EXPECT_EQ(configQueries(), 1u) << "the second load never reached the backend";
    EXPECT_TRUE(cached.model->itemWithObjectId("jp")->isFavorite);
}

// Thousands of rows are made off the main thread; a service gone meanwhile
// answers nothing.
TEST_F(VPNConfigsServiceTest, RowsAreMadeOnTheRowsQueueAndTakenBackOnTheMainQueue) {
    signIn();
    test::ManualQueue rows;
    auto service = std::make_unique<VPNConfigsService>(*parse, &rows, &queue);
    int answers = 0;
    const auto ask = [&] { service->loadLocationsList(false, [&](auto model, auto) { answers += model ? 1 : 100; }); };
    const auto drain = [&] { while (rows.runUntilIdle() + queue.runUntilIdle() > 0) {} };
    ask();
    queue.runUntilIdle();
    EXPECT_EQ(answers, 0) << "the rows were made on the main queue";
    drain();
    EXPECT_EQ(answers, 1);
    ask();
    queue.runUntilIdle();
    service.reset();
    drain();
    EXPECT_EQ(answers, 1);
}

// Rows are made page by page as the pages come; the list must be the one a
// single pass over every object gives: ties in sortOrder across pages keep
// the backend's order, an id two pages carry keeps its first row, and an
// unusable object is left out.
TEST_F(VPNConfigsServiceTest, ManyPagesGiveTheListOfOnePassOverTheirObjects) {
    signIn();
    backend.pages = true;
    backend.classes["FavoriteVPNConfig"] = {};
    auto& all = backend.classes["VPNConfig"];
    all.clear();
    for (int i = 0; i < 2150; ++i) all.push_back(location("l" + std::to_string(i), "L" + std::to_string(i), i % 7));
    all[1000] = location("l999", "Repeated", 0);
    all[1500].set("dnsPrefix", JSON(""));
    std::vector<ParseObject> objects;
    for (const auto& o : all) objects.push_back(ParseObject::fromJSON("VPNConfig", o, {}));
    std::vector<std::string> expected;
    for (const auto& row : VPNConfigsService::rowsFrom(objects)) expected.push_back(row->objectId);
    ASSERT_EQ(expected.size(), 2148u);

    test::ManualQueue rows;
    VPNConfigsService service(*parse, &rows, &queue);
    std::shared_ptr<LocationsListModel> model;
    service.loadLocationsList(false, [&](auto m, auto) { model = m; });
    while (rows.runUntilIdle() + queue.runUntilIdle() > 0) {}
    ASSERT_TRUE(model);
    EXPECT_EQ(configQueries(), 3u);
    std::vector<std::string> got;
    for (const auto& row : model->listWithOutGroups()) got.push_back(row->objectId);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(model->itemWithObjectId("l999")->name, "L999");
}

TEST_F(VPNConfigsServiceTest, FavouritesSurviveARestart) {
    signIn();
    {
        VPNConfigsService service(*parse);
        auto r = load(service, false);
        ASSERT_TRUE(r.model);
        r.model->itemWithObjectId("jp")->toggleFavoriteFlag();
        r.model->itemWithObjectId("de")->toggleFavoriteFlag();
    }
    parse.reset();
    parse = makeClient();
    ASSERT_TRUE(parse->currentUser()) << "the session is restored";
    VPNConfigsService service(*parse);
    auto r = load(service, false);
    ASSERT_TRUE(r.model);
    EXPECT_FALSE(r.model->itemWithObjectId("jp")->isFavorite) << "the device's own choice wins over the backend's";
    EXPECT_TRUE(r.model->itemWithObjectId("de")->isFavorite);
}

TEST_F(VPNConfigsServiceTest, AFailedLoadAnswersTheLastLoadsListOrWithoutOneAnError) {
    signIn();
    VPNConfigsService service(*parse);
    backend.findError = test::FakeBackend::Reply::error(1, "internal");
    auto r = load(service, false);
    EXPECT_EQ(r.calls, 1);
    EXPECT_FALSE(r.model);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->code, 1);

    backend.findError.reset();
    backend.classes["VPNConfig"] = {JSON::dictionaryLiteral({{"objectId", "x"}, {"name", "No config"}})};
    auto empty = load(service, false);
    EXPECT_EQ(empty.calls, 1);
    EXPECT_FALSE(empty.model) << "a list without one usable location is an error, not an empty success";
    EXPECT_TRUE(empty.error);

    backend.classes["VPNConfig"] = {location("nl", "Netherlands", 1, true)};
    ASSERT_TRUE(load(service, false).model);
    backend.findError = test::FakeBackend::Reply::error(1, "internal");
    auto kept = load(service, false);
    ASSERT_TRUE(kept.model) << "the last load's list stands in for a failed one";
    EXPECT_FALSE(kept.error);
    EXPECT_TRUE(kept.model->itemWithObjectId("nl"));
}

// A repeat that succeeds runs through the hub's test on the real services.
TEST_F(VPNConfigsServiceTest, ASecondExpiryEndsTheLoadInsteadOfLooping) {
    signIn();
    VPNConfigsService service(*parse);
    int expired = 0;
    service.onParseSessionExpired = [&](std::function<void()> retry) {
        if (++expired < 3) retry();  // bounded, so that a loop shows as a count
    };
    backend.findError = test::FakeBackend::Reply::error(209, "invalid session token");
    auto r = load(service, false);
    EXPECT_EQ(expired, 1) << "one repeat per load";
    EXPECT_EQ(r.calls, 1);
    EXPECT_TRUE(r.error && r.error->isInvalidSession());
}

TEST_F(VPNConfigsServiceTest, CredentialsCopiedIntoAConfigNeverReachTheCache) {
    signIn();
    VPNConfigsService service(*parse);
    auto r = load(service, false);
    ASSERT_TRUE(r.model);
    auto config = r.model->itemWithObjectId("nl")->vpnConfig;
    config->username = "vpn-user";
    config->password = "vpn-pass-123";
    r.model->itemWithObjectId("nl")->toggleFavoriteFlag();
    backend.classes["VPNConfig"].clear();
    auto cached = load(service, true);
    ASSERT_TRUE(cached.model);
    EXPECT_FALSE(cached.model->itemWithObjectId("nl")->vpnConfig->password);
    EXPECT_FALSE(log->contains("vpn-pass-123"));
}

// Rows read fields in place: a field of the wrong kind, or a file where
// text belongs, reads as absent; a repeated id keeps the first.
TEST_F(VPNConfigsServiceTest, RowsReadOddFieldsAsAbsent) {
    auto object = [](JSON json) { return ParseObject::fromJSON("VPNConfig", json, {}); };
    JSON odd = location("de", "Germany", 2, true);
    odd.set("protocols", "OpenVPN");
    odd.set("sortOrder", "first");
    ParseObject withFile = object(location("nl", "Netherlands", 1));
    withFile.setFile("ovpnConfigWithDNSName", std::make_shared<ParseFile>(std::weak_ptr<ParseCore>{}, "a.ovpn",
                                                                          "https://files.test/a.ovpn", std::nullopt, ""));
    const auto rows = VPNConfigsService::rowsFrom({object(odd), withFile, object(location("de", "Again", 9))});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]->name, "Germany");
    EXPECT_TRUE(rows[0]->isRecommended);
    EXPECT_TRUE(rows[0]->vpnConfig->protocols.empty());
    EXPECT_FALSE(rows[1]->vpnConfig->ovpnConfigWithDNSName);
}

}  // namespace
}  // namespace hw
