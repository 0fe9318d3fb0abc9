// The main window's states, on the demo account's data from the testbed.
#include <QAbstractButton>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "demo_rig.h"
#include "services/smart_wigdet_helper.h"
#include "shots.h"
#include "windows/main/widgets/profile_menu_popover.h"
#include "windows/shared/widgets/locations_search_field_main.h"

namespace hw::shots {
namespace {

// The hub, the window and its controller; itself never shown.
class MainRig final : public QWidget {
public:
    explicit MainRig(bool withWidgetData = true, bool withPane = false) {
        if (withPane) {
            rig = signedInDemo();
            openWithRealPane(*rig, pane);
            rig->widget->move(60, 60);
            if (!rig->waitForMapAndFlag()) throw std::runtime_error("map or flag never placed");
            showDemoBars(*rig);
        } else {
            rig = demoMainWindow(60, 60);
        }
        if (!withWidgetData) return;
        std::optional<SmartWidgetReply> reply;
        rig->hub->smartWidgetService()->requestSmartWidgetData(
            checkoutTestbed<test::TestbedEnv>()->get("HAVENWAY_TESTBED_APP_ID"), rig->parse->currentUser()->sessionToken,
            [&](SmartWidgetReply r) { reply = r; }, [](const std::string&) {});
        if (!test::spinUntil([&] { return reply.has_value(); }, 30000)) throw std::runtime_error("no widget data");
        auto data = rig->hub->appModel().makeSmartWidgetData(reply->link, reply->title, reply->image, reply->subtitle,
                                                             reply->link_text);
        rig->controller->onLatestSmartWidgetDataLoadedWithData(data);
        if (!test::spinUntil([&] { return rig->widget->smartWidgetTitle() == reply->title && data->imageData; }, 30000))
            throw std::runtime_error("widget never filled");
    }

    int rowOf(const std::string& name) {
        auto& table = rig->controller->tableViewModel();
        for (int row = 0; row < table.rowCount(); ++row)
            if (auto item = table.itemAtRow(row); item && item->name == name) return row;
        throw std::runtime_error("no row " + name);
    }

    std::unique_ptr<test::MainWindowTestbed> rig;
    DemoPane pane;
};

constexpr bool kTestbed = true;

// With its real pane and the demo account's server bars.
HW_SHOT("main.window", [](ShotStage& stage) {
    auto& rig = stage.window<MainRig>(true, true);
    rig.rig->controller->onTableRowClicked(rig.rowOf("Netherlands"));
    stage.advanceAnimations(1000);
}, kTestbed);

// Each seeded location's flag on the map, beside the real pane's card.
void flagShot(ShotStage& stage, const std::string& name) {
    auto& rig = stage.window<MainRig>(false, true);
    const QImage before = rig.rig->widget->flag()->image();
    rig.rig->controller->onTableRowClicked(rig.rowOf(name));
    test::spinUntil([&] { return rig.rig->widget->flag()->image() != before; }, 30000);
    stage.advanceAnimations(1000);
}
HW_SHOT("main.flag-nl", [](ShotStage& stage) { flagShot(stage, "Netherlands"); }, kTestbed);
HW_SHOT("main.flag-de", [](ShotStage& stage) { flagShot(stage, "Germany"); }, kTestbed);
HW_SHOT("main.flag-gb", [](ShotStage& stage) { flagShot(stage, "United Kingdom"); }, kTestbed);
HW_SHOT("main.flag-us", [](ShotStage& stage) { flagShot(stage, "United States"); }, kTestbed);
HW_SHOT("main.flag-ca", [](ShotStage& stage) { flagShot(stage, "Canada"); }, kTestbed);
HW_SHOT("main.flag-jp", [](ShotStage& stage) { flagShot(stage, "Japan"); }, kTestbed);

HW_SHOT("main.automatic", [](ShotStage& stage) {
    auto& rig = stage.window<MainRig>();
    rig.rig->controller->onTableRowClicked(0);
    test::spinUntil([&] { return !rig.rig->widget->flag()->image().isNull(); }, 30000);
    stage.advanceAnimations(1000);
}, kTestbed);

HW_SHOT("main.search", [](ShotStage& stage) {
    auto& rig = stage.window<MainRig>();
    stage.afterShown([&rig] {
        auto* field = rig.rig->widget->searchField();
        field->setFocus();
        QTest::keyClicks(field, "an");
    });
    stage.advanceAnimations(1000);
}, kTestbed);

HW_SHOT("main.widget-loading", [](ShotStage& stage) {
    stage.window<MainRig>(false);
    stage.advanceAnimations(300);
}, kTestbed);

HW_SHOT("main.profile-popover", [](ShotStage& stage) {
    auto& rig = stage.window<MainRig>();
    stage.afterShown([&rig] { rig.rig->widget->profileButton()->click(); });
    stage.advanceAnimations(1000);
}, kTestbed);

HW_SHOT("main.profile-menu", [](ShotStage& stage) {
    auto& rig = stage.window<MainRig>();
    stage.afterShown([&rig] {
        auto* button = rig.rig->widget->profileButton();
        emit button->customContextMenuRequested(QPoint(button->width() / 2, button->height()));
        auto* menu = rig.rig->widget->profilePopUpMenu();
        menu->setActiveAction(menu->actions().at(1));
        rig.rig->controller->menuWillHighlightItem(1);
    });
    stage.advanceAnimations(1000);
}, kTestbed);

}  // namespace
}  // namespace hw::shots
