#pragma once
// The one QCoreApplication of a Qt test binary, and a bounded spin of its event loop.
#include <QCoreApplication>
#include <QElapsedTimer>

#include "support/qt_leak_suppressions.h"

namespace hw::test {

inline QCoreApplication& qtTestApp() {
    // A widget test made its QApplication first: there is only ever one.
    if (auto* existing = QCoreApplication::instance()) return *existing;
    static int argc = 1;
    static char name[] = "havenway_qt_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

// A fixture's first base, so the application exists before any member that needs it.
struct QtAppFirst {
    QtAppFirst() { qtTestApp(); }
};

// Runs the event loop until done() or the bound passes; false when it passed.
template <class Done>
bool spinUntil(Done done, int boundMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < boundMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// Runs the event loop for a while, for what must not happen.
inline void spinFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

}  // namespace hw::test
