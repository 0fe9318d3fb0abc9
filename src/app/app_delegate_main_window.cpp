#include "app/app_delegate.h"
#include "platform/log.h"

namespace hw {

namespace {
constexpr char kLog[] = "AppDelegate";
}


}  // namespace hw
