#pragma once
// The one HavenwayApplication of a widget test or shots binary.
#include "support/qt_leak_suppressions.h"
#include "view/havenway_application.h"


namespace hw::test {

inline HavenwayApplication& widgetTestApp() {
    static int argc = 1;
    static char name[] = "havenway_widget_test";
    static char* argv[] = {name, nullptr};
    static HavenwayApplication* instance = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        HavenwayApplication::prepare();
        return new HavenwayApplication(argc, argv);
    }();
    return *instance;
}

// A fixture's first base, so the application exists before any widget.
struct WidgetAppFirst {
    WidgetAppFirst() { widgetTestApp(); }
};

}  // namespace hw::test
