#include "view/font_warm_up.h"

#include <fontconfig/fontconfig.h>

namespace hw {

// FcInit is safe to race: the thread that loses drops its copy and takes the
// winner's, so Qt's own first call either waits for nothing or does the work.
std::jthread warmUpFontConfiguration() {
    return std::jthread([] { FcInit(); });
}

}  // namespace hw
