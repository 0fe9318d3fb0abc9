#include "texts/composite_inputs.h"

namespace hw::texts {

std::string productName() { return "Havenway"; }
std::string supportEmail() { return "support@havenway.app"; }

}  // namespace hw::texts
