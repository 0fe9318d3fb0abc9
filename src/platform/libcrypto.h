#pragma once
#include "platform/shared_library.h"

namespace hw {

// libcrypto of the major version the build's headers describe, opened where
// first needed; each user binds the functions it calls.
SharedLibrary openLibcrypto();

}  // namespace hw
