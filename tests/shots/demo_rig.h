#pragma once
// The main window's hub signed in to the testbed's demo account.
#include <stdexcept>

#include "controllers/main_window_testbed.h"
#include "shots.h"

namespace hw::shots {

inline std::unique_ptr<test::MainWindowTestbed> signedInDemo() {
    const auto env = checkoutTestbed<test::TestbedEnv>();
    if (!env) throw std::runtime_error("testbed not up (scripts/testbed up)");
    auto rig = std::make_unique<test::MainWindowTestbed>(*env);
    const auto why = rig->signInAndLoad(env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"));
    if (!why.empty()) throw std::runtime_error(why);
    return rig;
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
