#pragma once
#include <string>
#include <type_traits>

namespace hw {

// A system library opened where it is first needed rather than with the
// program: a start that never uses it does not load and relocate it. Each
// function is bound by name; a library or a function that cannot be found
// leaves the binder not ok(), with the loader's reason. The library stays
// open for the process's life.
class SharedLibrary {
public:
    explicit SharedLibrary(const char* soname);

    template <class Function>
    void bind(Function& function, const char* name) {
        static_assert(std::is_pointer_v<Function>);
        function = reinterpret_cast<Function>(symbol(name));
    }

    bool ok() const { return failure_.empty(); }
    const std::string& failure() const { return failure_; }

private:
    void* symbol(const char* name);

    std::string soname_;
    void* handle_ = nullptr;
    std::string failure_;
};

}  // namespace hw
