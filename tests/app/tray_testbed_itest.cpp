// The demo account's data in the tray: signed in against the testbed's
// backend, the full menu lists Automatic and every location with its flag, as
// a desktop's panel reads it over dbusmenu. Needs the testbed, Xvfb and a
// process of its own (Qt decides once whether a tray exists).
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/menu_bar_menu_controller.h"
#include "app/qt_status_item.h"
#include "controllers/main_window_testbed.h"
#include "support/null_menu_commands.h"
#include "support/tray_desktop.h"
#include "support/tray_menu_reader.h"
#include "support/widget_test_app.h"

namespace hw::test {
namespace {

TEST(TrayTestbed, DemoAccountsLocationsShowWithTheirFlags) {
    if (QCoreApplication::instance()) GTEST_SKIP() << "needs a process of its own";
    const auto env = TestbedEnv::load();
    if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
    TrayDesktop desktop;
    if (const std::string why = desktop.start(true); !why.empty()) GTEST_SKIP() << why;
    widgetTestApp();

    MainWindowTestbed rig(*env);
    const std::string why = rig.signInAndLoad(env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"));
    ASSERT_TRUE(why.empty()) << why;

    RemoteImageLoader flags(rig.queue, rig.background, rig.codec);
    NullMenuCommands commands;
    MenuBarMenuController controller(rig.hub->appModel(), commands,
                                     [&flags](const ParseFilePtr& f, std::function<void(ImagePtr)> reply) {
                                         flags.load(f, std::move(reply));
                                     });
    controller.locationsListModel = rig.hub->appModel().locationsListModel();
    controller.prepareMenu();
    QtStatusItem item;
    item.setMenu(controller.menus().menuBarMenu);
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 10000)) << "the item registers";

    const auto& locations = *controller.menus().menuBarMenu->find(menu_tags::location)->submenu;
    const auto& rows = controller.locationsListModel->listWithOutGroups();
    ASSERT_EQ(rows.size(), 6u) << "the demo account's locations";
    ASSERT_TRUE(spinUntil(
        [&] {
            return std::all_of(locations.items().begin() + 1, locations.items().end(),
                               [](const MenuItemPtr& i) { return i->image != nullptr; });
        },
        20000))
        << "every flag arrives";

    const MenuNode root = trayLayout(desktop.watcher->items().front());
    const MenuNode* submenu = nullptr;
    for (const auto& n : root.children)
        if (n.props.value("children-display").toString() == "submenu") submenu = &n;
    ASSERT_NE(submenu, nullptr);
    ASSERT_EQ(submenu->children.size(), 7u);
    EXPECT_EQ(submenu->children[0].label(), "Automatic");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MenuNode& n = submenu->children[i + 1];
        EXPECT_EQ(n.label().toStdString(), rows[i]->name);
        EXPECT_FALSE(n.props.value("icon-data").toByteArray().isEmpty()) << rows[i]->name << " has its flag";
    }
    EXPECT_EQ(root.children[2].label().toStdString(), "Location:  " + rows[0]->name);
}

}  // namespace
}  // namespace hw::test
