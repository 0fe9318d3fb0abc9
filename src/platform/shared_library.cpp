#include "platform/shared_library.h"

#include <dlfcn.h>

namespace hw {

SharedLibrary::SharedLibrary(const char* soname) : soname_(soname) {
    handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = ::dlerror();
        failure_ = "cannot open " + soname_ + (why ? std::string(": ") + why : std::string());
    }
}

void* SharedLibrary::symbol(const char* name) {
    if (!handle_) return nullptr;
    void* found = ::dlsym(handle_, name);
    // The first missing function is the one worth reporting.
    if (!found && ok()) failure_ = soname_ + " lacks " + name;
    return found;
}

}  // namespace hw
