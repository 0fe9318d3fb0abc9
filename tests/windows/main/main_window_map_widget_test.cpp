#include <gmock/gmock.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "main_window_fixture.h"

namespace hw::test {
namespace {

using Element = MainWindowView::SmartWidgetElement;

TEST(FlagPlacement, DrawnMapAndConstantsFollowTheAspect) {
    struct Row {
        const char* name;
        double vw, vh, iw, ih;
        double startX, startY, width, height;
    };
    const Row rows[] = {
        {"view relatively wider", 600, 200, 2, 1, 100, 0, 400, 200},
        {"view relatively taller", 400, 400, 2, 1, 0, 100, 400, 200},
        {"equal aspects take the second branch", 400, 200, 2, 1, 0, 0, 400, 200},
    };
    for (const Row& r : rows) {
        const auto m = drawnMapRect(r.vw, r.vh, r.iw, r.ih).value_or(DrawnMap{-1, -1, -1, -1});
        EXPECT_EQ(std::tie(m.startX, m.startY, m.width, m.height), std::tie(r.startX, r.startY, r.width, r.height))
            << r.name;
    }
    auto p = flagPlacement(*drawnMapRect(600, 200, 2, 1), 0.5, 0.5);
    ASSERT_TRUE(p);
    EXPECT_EQ(std::tie(p->flagPaddingRight, p->flagPaddingTop, p->centreX, p->centreY),
              std::make_tuple(-319.5, -119.5, 300.0, 100.0));
    // Fractions count from the top: 0.262 lies in the upper half.
    EXPECT_DOUBLE_EQ(flagPlacement({0, 0, 1000, 500}, 0.5, 0.262)->centreY, 131);
}

TEST(FlagPlacement, NothingToDivideOrPlaceGivesNoPlacement) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(drawnMapRect(0, 200, 2, 1));
    EXPECT_FALSE(drawnMapRect(600, 200, 0, 1));
    EXPECT_FALSE(drawnMapRect(600, nan, 2, 1));
    const DrawnMap map{0, 0, 100, 50};
    for (auto [px, py] : std::vector<std::pair<std::optional<double>, std::optional<double>>>{
             {std::nullopt, 0.5}, {0.5, std::nullopt}, {nan, 0.5}, {0.5, INFINITY}, {-0.1, 0.5}, {0.5, 1.01}}) {
        EXPECT_FALSE(flagPlacement(map, px, py));
    }
    EXPECT_TRUE(flagPlacement(map, 0.0, 1.0));
}

struct MainWindowMap : MainWindowFixture, ::testing::Test {
    MainWindowMap() {
        view.mapSize = {600, 200};
        nl->flag_px = 0.5;
        nl->flag_py = 0.262;
        jp->flag_px = 0.9;
        jp->flag_py = 0.4;
    }
    void setMap() { model.mainViewMapImage = std::make_shared<Image>(FakeImageCodec::image(2, 1)); }
    // The Netherlands current, with its flag file; the map as asked.
    void currentWithFlag(bool withMap = true) {
        if (withMap) setMap();
        nl->setMainViewFlag(fileWith("https://files/nl.png", "IMG:8x6"));
        model.setCurrentLocation(nl);
    }
};

TEST_F(MainWindowMap, FlagWaitsForItsFileThenPopsInOverTheMap) {
    setMap();
    model.setCurrentLocation(nl);
    open();
    EXPECT_TRUE(view.flags.empty());  // no flag file known yet
    nl->setMainViewFlag(fileWith("https://files/nl.png", "IMG:8x6"));
    queue.runUntilIdle();
    ASSERT_EQ(view.flags.size(), 1u);
    EXPECT_EQ(view.flags[0].first->width, 8);
    EXPECT_DOUBLE_EQ(view.flags[0].second.centreX, 300);
    EXPECT_DOUBLE_EQ(view.flags[0].second.centreY, 0.262 * 200);
    EXPECT_EQ(view.popIns, 1);

    // A star reselects without the pop-in.
    controller->onFavoriteButtonClick(rowOf(jp));
    queue.runUntilIdle();
    EXPECT_EQ(view.flags.size(), 2u);
    EXPECT_EQ(view.popIns, 1);
}

TEST_F(MainWindowMap, MapArrivingLatePlacesTheWaitingFlag) {
    currentWithFlag(false);
    open();
    EXPECT_TRUE(controller->pendingLoadedBackgroundImage());
    EXPECT_TRUE(controller->pendingFlagImagePlacementRequest());
    EXPECT_TRUE(view.flags.empty());
    setMap();
    controller->updateMainViewMapImage();
    queue.runUntilIdle();
    EXPECT_EQ(view.map, model.mainViewMapImage);
    EXPECT_EQ(view.flags.size(), 1u);
    EXPECT_FALSE(controller->pendingFlagImagePlacementRequest());
}

TEST_F(MainWindowMap, ZeroSizedMapWaitsForAResize) {
    view.mapSize = {0, 0};
    currentWithFlag();
    open();
    EXPECT_TRUE(view.flags.empty());
    EXPECT_TRUE(controller->pendingFlagImagePlacementRequest());
    view.mapSize = {600, 200};
    controller->onMapViewResized();
    queue.runUntilIdle();
    EXPECT_EQ(view.flags.size(), 1u);
}

TEST_F(MainWindowMap, OnlyTheCurrentLocationsFlagIsPlaced) {
    setMap();
    model.setCurrentLocation(nl);
    open();
    controller->onTableRowClicked(rowOf(jp));
    // The first location's flag file turns up after the user moved on.
    nl->setMainViewFlag(fileWith("https://files/nl.png", "IMG:8x6"));
    queue.runUntilIdle();
    EXPECT_TRUE(view.flags.empty());

    // A flag whose answer arrives after the choice changed is dropped too.
    jp->setMainViewFlag(fileWith("https://files/jp.png", "IMG:4x4"));
    controller->onTableRowClicked(rowOf(nl));
    queue.runUntilIdle();
    ASSERT_EQ(view.flags.size(), 1u);
    EXPECT_EQ(view.flags[0].first->width, 8);
}

TEST_F(MainWindowMap, BadCoordinatesLeaveTheFlagAsItWas) {
    currentWithFlag();
    jp->setMainViewFlag(fileWith("https://files/jp.png", "IMG:4x4"));
    jp->flag_px = std::numeric_limits<double>::quiet_NaN();
    open();
    ASSERT_EQ(view.flags.size(), 1u);
    controller->onTableRowClicked(rowOf(jp));
    queue.runUntilIdle();
    EXPECT_EQ(view.flags.size(), 1u);
}

TEST_F(MainWindowMap, FlagAnimationsPauseDuringAnAutomaticReconnect) {
    currentWithFlag();
    model.setAutoReconnectInProgress(true);
    open();
    controller->startAnimateFlagConnectionProgress();
    EXPECT_EQ(view.flags.size(), 1u);
    EXPECT_EQ(view.popIns, 0);
    EXPECT_FALSE(view.ringSpinning);
    model.setAutoReconnectInProgress(false);
    controller->startAnimateFlagConnectionProgress();
    EXPECT_EQ(view.ringSpinning, true);
    controller->stopAnimateFlagConnectionProgress();
    EXPECT_EQ(view.ringSpinning, false);
}

TEST(SmartWidgetSubtitle, SplitsIntoTwoLinesWordByWord) {
    struct Row {
        const char* name;
        std::string text, first, second;
    };
    const Row rows[] = {
        {"31 characters stay on one line", std::string(31, 'a'), std::string(31, 'a'), ""},
        {"multi-byte characters are counted once", "é" + std::string(30, 'b'), "é" + std::string(30, 'b'), ""},
        {"32 split word by word", std::string(15, 'a') + " " + std::string(16, 'b'), std::string(15, 'a') + " ",
         std::string(16, 'b') + " "},
        {"a short word after a long one joins line 1", "aaaaaaaaaa bbbbbbbbbbbbbbbbbbbbbbbbb cc",
         "aaaaaaaaaa cc ", "bbbbbbbbbbbbbbbbbbbbbbbbb "},
        {"once line 1 is full the rest goes to line 2", "Protect every network you join even abroad",
         "Protect every network you join ", "even abroad "},
    };
    for (const Row& r : rows) {
        auto [first, second] = splitSmartWidgetSubtitle(r.text);
        EXPECT_EQ(first, r.first) << r.name;
        EXPECT_EQ(second, r.second) << r.name;
    }
}

struct MainWindowWidget : MainWindowFixture, ::testing::Test {
    std::shared_ptr<SmartWidgetData> data(const std::string& title, const std::string& subtitle,
                                          const std::string& linkText, const std::string& icon) {
        auto d = model.makeSmartWidgetData("https://w/{token}", title, icon, subtitle, linkText);
        d->imageCachedFilename = smartWidgetCachedFilename(icon);
        return d;
    }
    std::vector<Element> fadedOut() const {
        std::vector<Element> out;
        for (const auto& f : view.fades) {
            if (!f.in) out.push_back(f.element);
        }
        return out;
    }
};

TEST_F(MainWindowWidget, WithoutCacheTheSpinnerRunsUntilDataArrives) {
    controller->showWindow();
    queue.runUntilIdle();
    EXPECT_EQ(view.loading, std::vector<bool>{true});
    http.responder = [](const HttpRequest&) {
        return FakeHttpClient::ok("IMG:4x4", 200, {{"Content-Type", "image/png"}});
    };
    controller->onLatestSmartWidgetDataLoadedWithData(data("Title", "Sub", "Read", "https://i/a.png"));
    drain();
    EXPECT_EQ(view.loading.back(), false);
    EXPECT_EQ(view.title, "Title");
    ASSERT_TRUE(view.icon);
    EXPECT_EQ(view.fades.size(), 4u);
    EXPECT_TRUE(view.tileClick);
}

TEST_F(MainWindowWidget, LaterDataWaitsFiveSecondsAndFadesOnlyWhatChanged) {
    // Icons that fail to load keep what the record holds.
    http.responder = [](const HttpRequest&) { return FakeHttpClient::ok("", 404); };
    controller->showWindow();
    auto first = data("Title", "Sub", "Read", "https://i/a.png");
    first->imageData = std::make_shared<Image>(FakeImageCodec::image(4, 4));
    controller->onLatestSmartWidgetDataLoadedWithData(first);
    queue.runUntilIdle();
    view.fades.clear();

    auto second = data("New title", "Sub", "Read", "https://i/a.png");
    second->imageData = first->imageData;
    controller->onLatestSmartWidgetDataLoadedWithData(second);
    queue.advance(4999);
    EXPECT_TRUE(view.fades.empty());
    EXPECT_EQ(controller->recentSmartWidgetData(), first);
    queue.advance(1);
    drain();
    EXPECT_EQ(fadedOut(), std::vector<Element>{Element::title});
    EXPECT_EQ(view.title, "Title");
    view.finishFades();
    EXPECT_EQ(view.title, "New title");
    ASSERT_EQ(view.fades.size(), 1u);
    EXPECT_TRUE(view.fades[0].in);

    // New icon file and texts: every element but the unchanged title fades.
    view.fades.clear();
    auto third = data("New title", "Other subtitle", "More", "https://i/b.png");
    third->imageData = first->imageData;
    controller->onLatestSmartWidgetDataLoadedWithData(third);
    queue.advance(5000);
    drain();
    EXPECT_EQ(fadedOut(), (std::vector<Element>{Element::icon, Element::subtitle, Element::link}));
    view.finishFades();
    EXPECT_EQ(view.subtitle.first, "Other subtitle");
    EXPECT_EQ(view.linkText, "More");
}

TEST_F(MainWindowWidget, TileAndLinkOpenOnlyWebAddresses) {
    struct Row {
        const char* name;
        bool enterprise;
        const char* link;
        std::vector<std::string> opened;  // the enterprise page is added below
    };
    const Row rows[] = {
        {"ordinary build", false, "https://w/offer", {"https://w/offer"}},
        {"refused scheme", false, "file:///etc/passwd", {}},
        {"enterprise build", true, "https://w/offer", {}},
    };
    for (const Row& r : rows) {
        MainWindowFixture f(r.enterprise);
        f.model.mainDomainName = "havenway.example";
        f.controller->showWindow();
        auto d = f.model.makeSmartWidgetData(r.link, "T", "", "S", "L");
        d->imageData = std::make_shared<Image>(FakeImageCodec::image(4, 4));
        f.controller->configureSmartWidgetWithData(d);
        ASSERT_TRUE(f.view.tileClick) << r.name;
        f.view.tileClick();
        std::vector<std::string> expected = r.opened;
        if (r.enterprise) expected = {f.links.baseAddress() + "blog/automatic-wifi-security-feature"};
        EXPECT_EQ(f.urlOpener.opened, expected) << r.name;
    }
}

TEST(RemoteImageLoader, CachesByAddressSharesFetchesAndForgetsFailures) {
    ManualQueue queue;
    FakeImageCodec codec;
    RemoteImageLoader loader(queue, queue, codec);
    std::vector<ImagePtr> answers;
    auto keep = [&](ImagePtr image) { answers.push_back(std::move(image)); };

    loader.load(fileWith("https://f/a.png", "IMG:8x8"), keep);
    loader.load(fileWith("https://f/a.png", "IMG:8x8"), keep);
    EXPECT_TRUE(answers.empty());  // answers come on the main queue
    queue.runUntilIdle();
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], answers[1]);
    EXPECT_EQ(codec.decodes.load(), 1);
    EXPECT_EQ(loader.cachedBytes(), std::string("https://f/a.png").size() + 8 * 8 * 4);

    loader.load(fileWith("https://f/bad.png", "not an image"), keep);
    loader.load(fileWith("https://f/gone.png", std::nullopt), keep);
    loader.load(nullptr, keep);
    queue.runUntilIdle();
    ASSERT_EQ(answers.size(), 5u);
    EXPECT_FALSE(answers[2] || answers[3] || answers[4]);
    EXPECT_EQ(loader.cachedCount(), 1u);
}

}  // namespace
}  // namespace hw::test
