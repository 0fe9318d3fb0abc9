#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/menu_bar_menu_controller.h"
#include "hub/service_layer.h"
#include "services/locations_list_model.h"
#include "support/capture_log.h"
#include "support/fake_hub_factory.h"

namespace hw::test {
namespace {

class RecordingMenuCommands final : public MenuBarMenuCommands {
public:
    void changeAppToBeNormalApp() override { calls.push_back("normal"); }
    void changeAppToBeUserAgent() override { calls.push_back("userAgent"); }
    void performConnectCommand() override { calls.push_back("connect"); }
    void performSelectLocationCommand(const std::shared_ptr<LocationsListItemModel>& item) override {
        calls.push_back("select:" + item->name);
    }
    void performLogout() override { calls.push_back("logout"); }
    void quitApplicationRequested() override { calls.push_back("quit"); }
    void sendAnalyticsEvent(const std::string& name,
                            const std::optional<std::map<std::string, std::string>>& p) override {
        calls.push_back("analytics:" + name + ":" + (p ? p->begin()->first + "=" + p->begin()->second : ""));
    }
    void addAppModeChangeNotification(std::function<void()> s) override { subscribers.push_back(std::move(s)); }
    void clearAppModeChangeNotifications() override { subscribers.clear(); }
    void notify() {
        for (auto& s : subscribers) s();
    }
    std::vector<std::string> calls;
    std::vector<std::function<void()>> subscribers;
};

ParseFilePtr flagFile(const std::string& name) {
    return std::make_shared<ParseFile>(std::weak_ptr<ParseCore>{}, name, "https://files.test/" + name, std::nullopt,
                                       "image/png");
}

ImagePtr image(int side) {
    auto i = std::make_shared<Image>();
    i->width = i->height = side;
    i->rgba.assign(static_cast<std::size_t>(side * side * 4), 0x80);
    return i;
}

class MenuBarMenuControllerTest : public ::testing::Test {
protected:
    MenuBarMenuControllerTest() {
        controller = std::make_unique<MenuBarMenuController>(model(), commands, [this](const ParseFilePtr& f, auto reply) {
            loads.push_back(f->name());
            if (deferFlags) pending.push_back(std::move(reply));
            else reply(image(40));
        });
    }
    ApplicationModel& model() { return hub->appModel(); }
    std::shared_ptr<LocationsListModel> list(const std::vector<std::string>& names) {
        std::vector<LocationsListItemPtr> items;
        for (const auto& n : names) {
            auto item = std::make_shared<LocationsListItemModel>("id-" + n, n);
            item->flag = flagFile(n + ".png");
            items.push_back(item);
        }
        return std::make_shared<LocationsListModel>(std::move(items));
    }
    void prepare(const std::vector<std::string>& names) {
        controller->locationsListModel = list(names);
        controller->prepareMenu();
    }
    const MenuModel& sub(bool dock) {
        const auto& m = dock ? controller->menus().dockMenu : controller->menus().menuBarMenu;
        return *m->find(menu_tags::location)->submenu;
    }
    std::vector<std::string> titles(bool dock) {
        std::vector<std::string> out;
        for (const auto& i : sub(dock).items()) out.push_back(i->title);
        return out;
    }
    std::string line(const char* tag, bool dock = false) {
        const auto& m = dock ? controller->menus().dockMenu : controller->menus().menuBarMenu;
        return m->find(tag)->title;
    }
    std::vector<std::string> checked(bool dock) {
        std::vector<std::string> out;
        for (const auto& i : sub(dock).items())
            if (i->checked) out.push_back(i->title);
        return out;
    }
    void choose(bool dock, const std::string& title) {
        for (const auto& i : sub(dock).items())
            if (i->title == title) return i->action();
        FAIL() << "no item " << title;
    }

    std::shared_ptr<CaptureLog> log = CaptureLog::install();
    std::shared_ptr<FakeHubFactory> factory = std::make_shared<FakeHubFactory>();
    std::unique_ptr<ServiceLayer> hub = std::make_unique<ServiceLayer>(factory);
    RecordingMenuCommands commands;
    std::vector<std::string> loads;
    bool deferFlags = false;
    std::deque<std::function<void(ImagePtr)>> pending;
    std::unique_ptr<MenuBarMenuController> controller;
};

TEST_F(MenuBarMenuControllerTest, SubmenusListAutomaticThenEveryLocationWithItsFlag) {
    prepare({});
    EXPECT_EQ(titles(false), std::vector<std::string>{"Automatic"});
    EXPECT_EQ(titles(true), std::vector<std::string>{"Automatic"});
    EXPECT_EQ(line(menu_tags::location), "Location: ") << "an empty list leaves the lines alone";

    prepare({"Netherlands", "Germany"});
    EXPECT_EQ(titles(false), (std::vector<std::string>{"Automatic", "Netherlands", "Germany"}));
    EXPECT_EQ(titles(true), titles(false));
    EXPECT_EQ(sub(false).items()[0]->imageName, "Automatic_location_icon_small");
    EXPECT_NE(sub(false).items()[1]->image, nullptr);
    // Two spaces: the label's own and the added one.
    EXPECT_EQ(line(menu_tags::location), "Location:  Netherlands");
    EXPECT_EQ(line(menu_tags::location, true), line(menu_tags::location));
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

TEST_F(MenuBarMenuControllerTest, SettingsLockDisablesEveryLocationItemAndObservesOnce) {
    const auto before = model().vpnSettingsChangingDisabledObserverCount();
    prepare({"Netherlands", "Germany"});
    prepare({"Netherlands", "Germany"});
    EXPECT_EQ(model().vpnSettingsChangingDisabledObserverCount(), before + 1) << "a second sign-in adds none";

    model().setVpnSettingsChangingDisabled(true);
    for (bool dock : {false, true})
        for (const auto& i : sub(dock).items()) EXPECT_FALSE(i->enabled) << i->title;
    prepare({"Netherlands"});
    EXPECT_FALSE(sub(false).items()[1]->enabled) << "a rebuild under the lock stays locked";
    model().setVpnSettingsChangingDisabled(false);
    for (bool dock : {false, true})
        for (const auto& i : sub(dock).items()) EXPECT_TRUE(i->enabled) << i->title;
}

TEST_F(MenuBarMenuControllerTest, ChosenLocationIsFoundByIdentityNotName) {
    prepare({"Netherlands", "Germany"});
    const auto& rows = controller->locationsListModel->listWithOutGroups();
    LocationsListItemModel lookalike("id-Germany", "Germany");
    controller->connectionDetailsCallbacks.fireChosenLocationChanged(lookalike);
    EXPECT_TRUE(checked(false).empty());

    controller->connectionDetailsCallbacks.fireChosenLocationChanged(*rows[1]);
    EXPECT_EQ(checked(false), std::vector<std::string>{"Germany"});
    EXPECT_EQ(checked(true), std::vector<std::string>{"Germany"});
    EXPECT_EQ(line(menu_tags::location), "Location:  Germany");
}

TEST_F(MenuBarMenuControllerTest, PickingALocationChecksOnlyItsOwnMenuAndSelects) {
    prepare({"Netherlands", "Germany"});
    controller->connectionDetailsCallbacks.fireChosenLocationChanged(*controller->locationsListModel->listWithOutGroups()[0]);
    choose(true, "Germany");
    EXPECT_EQ(checked(true), std::vector<std::string>{"Germany"});
    EXPECT_EQ(checked(false), std::vector<std::string>{"Netherlands"}) << "the status bar follows the engine";
    EXPECT_EQ(commands.calls, (std::vector<std::string>{"select:Germany",
                                                         "analytics:ae_current_vpn_location_changed:ap_location_id=Germany"}));
    EXPECT_FALSE(model().useAutomaticLocation());

    commands.calls.clear();
    choose(false, "Automatic");
    EXPECT_EQ(checked(false), std::vector<std::string>{"Automatic"});
    EXPECT_TRUE(commands.calls.empty()) << "no automatic location known: only the check mark";
}

TEST_F(MenuBarMenuControllerTest, AppItemShowsExactlyInStatusBarOnlyMode) {
    prepare({"Netherlands"});
    auto app = controller->menus().menuBarMenu->find(menu_tags::app);
    EXPECT_FALSE(app->visible);
    model().setIsAppInUserAgentMode(true);
    commands.notify();
    EXPECT_TRUE(app->visible);
    model().setIsAppInUserAgentMode(false);
    commands.notify();
    EXPECT_FALSE(app->visible);
    prepare({"Netherlands"});
    EXPECT_EQ(commands.subscribers.size(), 1u) << "each prepare replaces the subscription";
}

TEST_F(MenuBarMenuControllerTest, LateFlagsForARebuiltListOrAMovedLineAreDropped) {
    deferFlags = true;
    prepare({"Netherlands", "Germany"});
    const auto staleReplies = pending.size();  // two per submenu and one per line
    ASSERT_EQ(staleReplies, 6u);
    auto rows = controller->locationsListModel->listWithOutGroups();
    controller->connectionDetailsCallbacks.fireChosenLocationChanged(*rows[1]);  // the line moves on
    prepare({"Netherlands", "Germany"});
    for (std::size_t i = 0; i < staleReplies; ++i) {
        pending.front()(image(40));
        pending.pop_front();
    }
    for (bool dock : {false, true}) {
        for (const auto& i : sub(dock).items()) EXPECT_EQ(i->image, nullptr) << i->title;
    }
    EXPECT_EQ(controller->menus().menuBarMenu->find(menu_tags::location)->image, nullptr);
    while (!pending.empty()) {
        pending.front()(image(40));
        pending.pop_front();
    }
    EXPECT_NE(sub(false).items()[1]->image, nullptr);
    EXPECT_NE(controller->menus().menuBarMenu->find(menu_tags::location)->image, nullptr);
}

}  // namespace
}  // namespace hw::test
