#include "view/font_warm_up.h"

#include <fontconfig/fontconfig.h>

#include <QFontDatabase>
#include <QStringList>

namespace hw {

// FcInit is safe to race: the thread that loses drops its copy and takes the
// winner's, so Qt's own first call either waits for nothing or does the work.
std::jthread warmUpFontConfiguration() {
    return std::jthread([] { FcInit(); });
}

// The database is one for the process and locked while it fills; the font
// engines a thread loads stay its own, so none is loaded here.
std::jthread warmUpFontDatabase() {
    return std::jthread([] { (void)QFontDatabase::families(); });
}

}  // namespace hw
