#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/menu_bar_menu_controller.h"
#include "hub/service_layer.h"
#include "services/locations_list_model.h"
#include "support/capture_log.h"
#include "support/fake_hub_factory.h"
#include "support/recording_menu_commands.h"

namespace hw::test {
namespace {

ImagePtr image() {
    auto i = std::make_shared<Image>();
    i->width = i->height = 40;
    i->rgba.assign(40 * 40 * 4, 0x80);
    return i;
}

class MenuBarMenuControllerTest : public ::testing::Test {
protected:
    ApplicationModel& model() { return hub->appModel(); }
    void prepare(const std::vector<std::string>& names,
                 const std::function<void(LocationsListItemModel&, std::size_t)>& shape = {}) {
        std::vector<LocationsListItemPtr> items;
        for (const auto& n : names) {
            auto item = std::make_shared<LocationsListItemModel>("id-" + n, n);
            if (shape) shape(*item, items.size());
            item->flag = std::make_shared<ParseFile>(std::weak_ptr<ParseCore>{}, n + ".png",
                                                     "https://files.test/" + n + ".png", std::nullopt, "image/png");
            items.push_back(item);
        }
        controller->locationsListModel = std::make_shared<LocationsListModel>(std::move(items));
        controller->prepareMenu();
    }
    const LocationsListItemModel& row(std::size_t i) { return *controller->locationsListModel->listWithOutGroups()[i]; }
    const MenuPtr& menu(bool dock) { return dock ? controller->menus().dockMenu : controller->menus().menuBarMenu; }
    const MenuModel& sub(bool dock) { return *menu(dock)->find(menu_tags::location)->submenu; }
    std::string line(const char* tag, bool dock = false) { return menu(dock)->find(tag)->title; }
    // Titles of the submenu's items that pass the test.
    std::vector<std::string> titles(bool dock, bool (*keep)(const MenuItemModel&) = nullptr) {
        std::vector<std::string> out;
        for (const auto& i : sub(dock).items())
            if (!keep || keep(*i)) out.push_back(i->title);
        return out;
    }
    static bool isChecked(const MenuItemModel& i) { return i.checked; }
    static bool isEnabled(const MenuItemModel& i) { return i.enabled; }
    void choose(bool dock, const std::string& title) {
        for (const auto& i : sub(dock).items())
            if (i->title == title) return i->action();
        FAIL() << "no item " << title;
    }
    void answerFlags(std::size_t n) {
        for (; n > 0 && !pending.empty(); --n, pending.pop_front()) pending.front()(image());
    }

    std::shared_ptr<CaptureLog> log = CaptureLog::install();
    std::shared_ptr<FakeHubFactory> factory = std::make_shared<FakeHubFactory>();
    std::unique_ptr<ServiceLayer> hub = std::make_unique<ServiceLayer>(factory);
    RecordingMenuCommands commands;
    bool deferFlags = false;
    std::deque<std::function<void(ImagePtr)>> pending;
    std::unique_ptr<MenuBarMenuController> controller = std::make_unique<MenuBarMenuController>(
        model(), commands, [this](const ParseFilePtr&, std::function<void(ImagePtr)> reply) {
            if (deferFlags) pending.push_back(std::move(reply));
            else reply(image());
        },
        factory->queue);
};

TEST_F(MenuBarMenuControllerTest, SubmenusListAutomaticThenEveryLocationWithItsFlag) {
    prepare({});
    EXPECT_EQ(titles(false), std::vector<std::string>{"Automatic"});
    EXPECT_EQ(line(menu_tags::location), "Location: ") << "an empty list leaves the lines alone";

    prepare({"Netherlands", "Germany"});
    for (bool dock : {false, true}) {
        EXPECT_EQ(titles(dock), (std::vector<std::string>{"Automatic", "Netherlands", "Germany"}));
        EXPECT_EQ(line(menu_tags::location, dock), "Location:  Netherlands") << "the label's space and the added one";
    }
    EXPECT_EQ(sub(false).items()[0]->imageName, "Automatic_location_icon_small");
    EXPECT_NE(sub(false).items()[1]->image, nullptr);
}

TEST_F(MenuBarMenuControllerTest, LiveLinesReadAsTheEngineReportsThemOnBothMenus) {
    prepare({"Netherlands"});
    auto& c = controller->connectionDetailsCallbacks;
    struct Row {
        std::function<void()> report;
        const char* tag;
        std::string expected;
    } rows[] = {
        {[&] { c.fireIPaddressUpdated("203.0.113.7"); }, menu_tags::ip, "IP: 203.0.113.7"},
        {[&] { c.fireConnectionStatusUpdated("Connected"); }, menu_tags::status, "Status: Connected"},
        {[&] { c.fireVPNProtocolUpdated(" OpenVPN"); }, menu_tags::protocol, "Protocol: OpenVPN"},
        {[&] { c.fireVPNProtocolUpdated(" IKEv2 "); }, menu_tags::protocol, "Protocol: IKEv2"},
        {[&] { c.fireConnectButtonStateChanged("CONNECT"); }, menu_tags::connect, "Connect"},
        {[&] { c.fireConnectButtonStateChanged("CONNECTING      "); }, menu_tags::connect, "Disconnect"},
        {[&] { c.fireConnectButtonStateChanged("RECONNECTING"); }, menu_tags::connect, "Reconnecting"},
        {[&] { c.fireConnectButtonStateChanged("DISCONNECT"); }, menu_tags::connect, "Disconnect"},
    };
    for (const auto& row : rows) {
        row.report();
        EXPECT_EQ(line(row.tag), row.expected);
        EXPECT_EQ(line(row.tag, true), row.expected);
    }
    model().vpnProtocolReadable = " IKEv2";
    prepare({"Netherlands"});
    EXPECT_EQ(line(menu_tags::protocol), "Protocol: IKEv2") << "prepareMenu shows the current protocol";
}

// No line outlives what it describes: the status reads before the first
// connection, and the IP line goes with the tunnel whose address it was.
TEST_F(MenuBarMenuControllerTest, StatusAndIPLinesNeverGoStale) {
    struct Row {
        ConnectionStates state;
        std::string status;
        bool ipShown;
    };
    for (const Row& row : {Row{ConnectionStates::disconnected, "Status: Disconnected", false},
                           Row{ConnectionStates::connecting, "Status: Connecting", true},
                           Row{ConnectionStates::connected, "Status: Connected", true}}) {
        model().setCurrentConnectionState(row.state);
        prepare({"Netherlands"});
        for (bool dock : {false, true}) {
            EXPECT_EQ(line(menu_tags::status, dock), row.status);
            EXPECT_EQ(menu(dock)->find(menu_tags::ip)->visible, row.ipShown) << row.status;
        }
    }
    auto& c = controller->connectionDetailsCallbacks;
    for (const auto& [button, ipShown] : {std::pair{"CONNECTING      ", true}, {"DISCONNECT", true}, {"CONNECT", false},
                                          {"RECONNECTING", true}, {"CONNECT", false}}) {
        c.fireConnectButtonStateChanged(button);
        c.fireIPaddressUpdated("Refreshing...");
        for (bool dock : {false, true}) EXPECT_EQ(menu(dock)->find(menu_tags::ip)->visible, ipShown) << button;
    }
}

TEST_F(MenuBarMenuControllerTest, SettingsLockDisablesEveryLocationItemAndObservesOnce) {
    const auto before = model().vpnSettingsChangingDisabledObserverCount();
    prepare({"Netherlands", "Germany"});
    prepare({"Netherlands", "Germany"});
    EXPECT_EQ(model().vpnSettingsChangingDisabledObserverCount(), before + 1) << "a second sign-in adds none";

    model().setVpnSettingsChangingDisabled(true);
    for (bool dock : {false, true}) EXPECT_TRUE(titles(dock, isEnabled).empty());
    prepare({"Netherlands"});
    EXPECT_TRUE(titles(false, isEnabled).empty()) << "a rebuild under the lock stays locked";
    model().setVpnSettingsChangingDisabled(false);
    for (bool dock : {false, true}) EXPECT_EQ(titles(dock, isEnabled), titles(dock));
}

TEST_F(MenuBarMenuControllerTest, TheCheckFollowsTheEnginesLocationByIdentityAndAPickChecksOnlyItsMenu) {
    prepare({"Netherlands", "Germany"});
    controller->connectionDetailsCallbacks.fireChosenLocationChanged(LocationsListItemModel("id-Germany", "Germany"));
    EXPECT_TRUE(titles(false, isChecked).empty()) << "a lookalike is not the row";
    controller->connectionDetailsCallbacks.fireChosenLocationChanged(row(1));
    for (bool dock : {false, true}) EXPECT_EQ(titles(dock, isChecked), std::vector<std::string>{"Germany"});
    EXPECT_EQ(line(menu_tags::location), "Location:  Germany");

    controller->connectionDetailsCallbacks.fireChosenLocationChanged(row(0));
    choose(true, "Germany");
    EXPECT_EQ(titles(true, isChecked), std::vector<std::string>{"Germany"});
    EXPECT_EQ(titles(false, isChecked), std::vector<std::string>{"Netherlands"}) << "the status bar follows the engine";
    EXPECT_EQ(commands.calls, (std::vector<std::string>{"select:Germany",
                                                         "analytics:ae_current_vpn_location_changed:ap_location_id=Germany"}));
    EXPECT_FALSE(model().useAutomaticLocation());

    commands.calls.clear();
    choose(false, "Automatic");
    EXPECT_EQ(titles(false, isChecked), std::vector<std::string>{"Automatic"});
    EXPECT_TRUE(commands.calls.empty()) << "no automatic location known: only the check mark";
}

TEST_F(MenuBarMenuControllerTest, ThousandsOfLocationsGiveBoundedSubmenusAndTheWindowForTheRest) {
    std::vector<std::string> names;
    for (int i = 0; i < 6000; ++i) names.push_back("L" + std::to_string(i));
    prepare(names, [](LocationsListItemModel& l, std::size_t i) {
        l.isFavorite = i >= 5000 && i < 5003;
        l.isRecommended = i >= 100 && i < 130;
    });
    std::vector<std::string> expected{"Automatic", "L5000", "L5001", "L5002"};
    for (int i = 100; i < 112; ++i) expected.push_back("L" + std::to_string(i));
    expected.insert(expected.end(), {"", "All Locations…"});
    for (bool dock : {false, true}) EXPECT_EQ(titles(dock), expected);

    // A search in the Locations window leaves a rebuilt submenu whole.
    controller->locationsListModel->applySearchString("L4");
    controller->connectionDetailsCallbacks.fireChosenLocationChanged(*controller->locationsListModel->items()[4000]);
    expected.insert(expected.end() - 2, "L4000");
    for (bool dock : {false, true}) {
        EXPECT_EQ(titles(dock), expected) << "the chosen location joins the submenu";
        EXPECT_EQ(titles(dock, isChecked), std::vector<std::string>{"L4000"});
    }
    choose(false, "All Locations…");
    EXPECT_EQ(commands.calls, std::vector<std::string>{"locationsWindow"});
}

// A star made in a window reaches both submenus on the main queue: one
// rebuild for the stars of one turn, the check mark kept, and none from a
// list the menus no longer show.
TEST_F(MenuBarMenuControllerTest, StarsMadeInAWindowRebuildBothSubmenusOncePerTurn) {
    auto& queue = factory->queue;
    std::vector<std::string> names;
    for (int i = 0; i < 6000; ++i) names.push_back("L" + std::to_string(i));
    prepare(names, [](LocationsListItemModel& l, std::size_t i) { l.isFavorite = i == 5000; });
    auto list = controller->locationsListModel;
    controller->connectionDetailsCallbacks.fireChosenLocationChanged(*list->items()[4000]);
    int rebuilds = 0;
    menu(false)->find(menu_tags::location)->submenu->onChanged = [&](const MenuItemModel* i) { rebuilds += !i; };

    list->items()[7]->toggleFavoriteFlag();
    list->items()[9]->toggleFavoriteFlag();
    list->items()[5000]->toggleFavoriteFlag();
    EXPECT_EQ(rebuilds, 0) << "not inside the window's click";
    queue.runUntilIdle();
    EXPECT_EQ(rebuilds, 1);
    for (bool dock : {false, true}) {
        EXPECT_EQ(titles(dock), (std::vector<std::string>{"Automatic", "L7", "L9", "L4000", "", "All Locations…"}));
        EXPECT_EQ(titles(dock, isChecked), std::vector<std::string>{"L4000"}) << "the check stays";
    }

    prepare({"Netherlands", "Germany"});
    rebuilds = 0;
    list->items()[11]->toggleFavoriteFlag();
    queue.runUntilIdle();
    EXPECT_EQ(rebuilds, 0) << "the earlier list is no longer the menus'";
    auto& shown = *controller->locationsListModel;
    shown.items()[1]->toggleFavoriteFlag();
    shown.rebuildLists();  // as the window does after its star
    queue.runUntilIdle();
    EXPECT_EQ(titles(false), (std::vector<std::string>{"Automatic", "Germany", "Netherlands"}));
}

TEST_F(MenuBarMenuControllerTest, AppItemShowsExactlyInStatusBarOnlyMode) {
    prepare({"Netherlands"});
    auto app = controller->menus().menuBarMenu->find(menu_tags::app);
    for (bool agent : {false, true, false}) {
        model().setIsAppInUserAgentMode(agent);
        for (auto& s : commands.subscribers) s();
        EXPECT_EQ(app->visible, agent);
    }
    prepare({"Netherlands"});
    EXPECT_EQ(commands.subscribers.size(), 1u) << "each prepare replaces the subscription";
}

TEST_F(MenuBarMenuControllerTest, LateFlagsForARebuiltListOrAMovedLineAreDropped) {
    deferFlags = true;
    prepare({"Netherlands", "Germany"});
    const auto stale = pending.size();
    ASSERT_EQ(stale, 6u) << "two per submenu and one per line";
    controller->connectionDetailsCallbacks.fireChosenLocationChanged(row(1));  // the line moves on
    prepare({"Netherlands", "Germany"});
    answerFlags(stale);
    for (bool dock : {false, true})
        for (const auto& i : sub(dock).items()) EXPECT_EQ(i->image, nullptr) << i->title;
    EXPECT_EQ(menu(false)->find(menu_tags::location)->image, nullptr);
    answerFlags(pending.size());
    EXPECT_NE(sub(false).items()[1]->image, nullptr);
    EXPECT_NE(menu(false)->find(menu_tags::location)->image, nullptr);
}

}  // namespace
}  // namespace hw::test
