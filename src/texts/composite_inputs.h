#pragma once
#include <string>

namespace hw::texts {

// The two values the composite texts are built from.
std::string productName();
std::string supportEmail();

}  // namespace hw::texts
