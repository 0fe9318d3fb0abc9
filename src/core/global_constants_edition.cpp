#include "core/global_constants.h"

namespace hw {

// The standard edition's value, alone in this file: an executable whose entry
// defines the value itself never pulls this one from the library.
const bool GlobalConstants::isEnterpriseVersion = false;

}  // namespace hw
