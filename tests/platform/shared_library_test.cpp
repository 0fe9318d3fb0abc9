#include "platform/shared_library.h"

#include <gtest/gtest.h>

namespace hw {
namespace {

using Cosine = double (*)(double);

// A library opened late must fail with a reason the log can carry, never leave a
// half-bound table behind that crashes at its first call.
TEST(SharedLibrary, BindsWhatItFindsAndNamesWhatItDoesNot) {
    SharedLibrary math("libm.so.6");
    Cosine cosine = nullptr;
    math.bind(cosine, "cos");
    ASSERT_TRUE(math.ok()) << math.failure();
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);

    Cosine missing = nullptr, after = nullptr;
    math.bind(missing, "hw_no_such_function");
    math.bind(after, "hw_nor_this_one");
    EXPECT_FALSE(math.ok());
    EXPECT_EQ(missing, nullptr);
    EXPECT_NE(math.failure().find("hw_no_such_function"), std::string::npos) << math.failure();

    SharedLibrary absent("libhw-absent.so.9");
    Cosine none = reinterpret_cast<Cosine>(1);
    absent.bind(none, "cos");
    EXPECT_FALSE(absent.ok());
    EXPECT_EQ(none, nullptr);
    EXPECT_NE(absent.failure().find("libhw-absent.so.9"), std::string::npos) << absent.failure();
}

}  // namespace
}  // namespace hw
