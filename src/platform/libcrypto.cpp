#include "platform/libcrypto.h"

#include <openssl/opensslv.h>

namespace hw {

#define HW_STRINGIFY2(x) #x
#define HW_STRINGIFY(x) HW_STRINGIFY2(x)

SharedLibrary openLibcrypto() { return SharedLibrary("libcrypto.so." HW_STRINGIFY(OPENSSL_VERSION_MAJOR)); }

}  // namespace hw
