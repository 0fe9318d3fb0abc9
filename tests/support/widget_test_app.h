#pragma once
// The one HavenwayApplication of a widget test or shots binary.
#include "view/havenway_application.h"

// The font library keeps caches for the life of the process; the leak
// checker would report them at exit of every binary that draws text. Qt's TLS
// backend can leave OpenSSL's per-thread state to a thread still ending at exit.
extern "C" [[gnu::used]] inline const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libcrypto.so\n";
}

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
