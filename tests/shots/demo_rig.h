#pragma once
// The main window's hub signed in to the testbed's demo account.
#include <QVBoxLayout>
#include <stdexcept>

#include "app/hub_shell_services.h"
#include "services/notification_bar_models.h"
#include "shots.h"
#include "windows/details_pane/main_view_details_area_controller.h"
#include "windows/details_pane/widgets/main_view_details_view.h"
#include "windows/main/main_window_testbed.h"

namespace hw::shots {

inline std::unique_ptr<test::MainWindowTestbed> signedInDemo() {
    const auto env = checkoutTestbed<test::TestbedEnv>();
    if (!env) throw std::runtime_error("testbed not up (scripts/testbed up)");
    auto rig = std::make_unique<test::MainWindowTestbed>(*env);
    const auto why = rig->signInAndLoad(env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"));
    if (!why.empty()) throw std::runtime_error(why);
    return rig;
}

// The main window's real details pane on the rig's scripted engine.
struct DemoPane {
    MainViewDetailsView* view = nullptr;
    std::shared_ptr<MainViewDetailsAreaController> pane;
};

inline void openWithRealPane(test::MainWindowTestbed& rig, DemoPane& out) {
    auto& model = rig.hub->appModel();
    model.isLoggedInUser = true;
    rig.openWindow([&rig, &out, &model](const BaseControllerContext& context) {
        auto* container = rig.widget->detailsContainer();
        out.view = new MainViewDetailsView(*rig.images, container);
        out.view->mapImages = MainViewDetailsView::mapImagesOf(model);
        auto* layout = new QVBoxLayout(container);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(out.view);
        MainViewDetailsEnvironment env{context, *out.view, rig.queue, rig.engine, rig.shell};
        env.links = rig.hub->linksManager().get();
        env.wifiInfo = [&rig] { return rig.wifiInfo; };
        env.mainWindow = rig.widget.get();
        out.pane = std::make_shared<MainViewDetailsAreaController>(std::move(env));
        return out.pane;
    });
}

// The demo account's server bars, asked for as the application asks after
// sign-in, handed to the main window.
inline void showDemoBars(test::MainWindowTestbed& rig) {
    HubShellServices services(*rig.hub, *rig.parse, rig.queue);
    bool answered = false;
    services.requestNotificationBars(
        [&](std::shared_ptr<TopNotificationBarModel> top, std::shared_ptr<BottomNotificationBarModel> bottom) {
            answered = true;
            rig.controller->refreshTopNotificationBar(top, bottom);
        });
    if (!test::spinUntil([&] { return answered; }, 30000)) throw std::runtime_error("no server bars");
}

// The demo's main window at (x, y) once its map and flag are placed.
inline std::unique_ptr<test::MainWindowTestbed> demoMainWindow(int x, int y) {
    auto rig = signedInDemo();
    rig->openWindow();
    rig->widget->move(x, y);
    if (!rig->waitForMapAndFlag()) throw std::runtime_error("map or flag never placed");
    return rig;
}

}  // namespace hw::shots
