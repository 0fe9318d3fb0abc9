#include "view/kit_url_opener.h"

#include <atomic>

namespace hw {

namespace {
std::atomic<URLOpener*> installed{nullptr};
}

void setKitURLOpener(URLOpener* opener) { installed = opener; }
URLOpener* kitURLOpener() { return installed; }

}  // namespace hw
