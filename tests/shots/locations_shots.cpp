// The locations window's states beside the main window, on the demo account.
#include <QCoreApplication>
#include <QTest>

#include "demo_rig.h"
#include "windows/locations/locations_window_testbed.h"
#include "windows/shared/widgets/locations_search_field_main.h"
#include "windows/shared/widgets/locations_table_widget.h"

namespace hw::shots {
namespace {

// Both windows on the hub; itself never shown.
class LocationsRig final : public QWidget {
public:
    LocationsRig() : main(demoMainWindow(300, 40)) {
        locations = std::make_unique<test::LocationsWindowTestbed>(*main);
        locations->open();
        locations->controller->onTableRowClicked(locations->rowOf("Netherlands"));
        // Its flags arrive from their files.
        if (!test::spinUntil([&] { return main->images->cachedCount() >= 6; }, 30000))
            throw std::runtime_error("flags missing");
        locations->widget->table().viewport()->update();
    }
    ~LocationsRig() override {
        locations.reset();
        main.reset();
    }

    std::unique_ptr<test::MainWindowTestbed> main;
    std::unique_ptr<test::LocationsWindowTestbed> locations;
};

constexpr bool kTestbed = true;

HW_SHOT("locations.window", [](ShotStage& stage) {
    stage.window<LocationsRig>();
    stage.advanceAnimations(1000);
}, kTestbed);

HW_SHOT("locations.search", [](ShotStage& stage) {
    auto& rig = stage.window<LocationsRig>();
    stage.afterShown([&rig] {
        auto& field = rig.locations->widget->searchField();
        field.setFocus();
        QTest::keyClicks(&field, "an");
        rig.locations->widget->table().setFocus();
    });
    stage.advanceAnimations(1000);
}, kTestbed);

HW_SHOT("locations.search-focused", [](ShotStage& stage) {
    auto& rig = stage.window<LocationsRig>();
    stage.afterShown([&rig] {
        rig.locations->widget->activateWindow();
        rig.locations->widget->searchField().setFocus();
    });
    stage.advanceAnimations(1000);
}, kTestbed);

HW_SHOT("locations.locked", [](ShotStage& stage) {
    auto& rig = stage.window<LocationsRig>();
    stage.afterShown([&rig] {
        rig.main->hub->appModel().setVpnSettingsChangingDisabled(true);
        QCoreApplication::processEvents();
    });
    stage.advanceAnimations(1000);
}, kTestbed);

// Germany starred: its row half way up to the favourites.
HW_SHOT("locations.favourite-move", [](ShotStage& stage) {
    auto& rig = stage.window<LocationsRig>();
    stage.afterShown([&rig] {
        rig.locations->controller->onFavoriteButtonClick(rig.locations->rowOf("Germany"));
        QCoreApplication::processEvents();
    });
    stage.advanceAnimations(LocationsTableWidget::kMoveMs / 2);
}, kTestbed);

HW_SHOT("locations.tooltip", [](ShotStage& stage) {
    auto& rig = stage.window<LocationsRig>();
    stage.afterShown([&rig] {
        auto& widget = *rig.locations->widget;
        QTest::mouseClick(widget.table().viewport(), Qt::LeftButton, {}, widget.infoIconRect().center());
        QCoreApplication::processEvents();
    });
    stage.advanceAnimations(1200);
}, kTestbed);

}  // namespace
}  // namespace hw::shots
