#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "core/try_catch_finally.h"

namespace hw {
namespace {

TEST(TryCatchFinally, NothingRunsUntilRunAndRunHappensOnce) {
    std::string trace;
    {
        TryCatchFinally runner([&] { trace += "t"; });
        runner.onFinally([&] { trace += "f"; });
        EXPECT_EQ(trace, "");
        runner.run();
        runner.run();
    }
    EXPECT_EQ(trace, "tf");

    trace.clear();
    { TryCatchFinally forgotten([&] { trace += "t"; }); }  // dropping it runs nothing
    EXPECT_EQ(trace, "");
}

TEST(TryCatchFinally, CatchGetsTheExceptionAndFinallyAlwaysRuns) {
    std::string trace;
    TryCatchFinally([&] {
        trace += "t";
        throw std::runtime_error("boom");
    })
        .onCatch([&](const std::exception& e) { trace += std::string("c:") + e.what(); })
        .onFinally([&] { trace += ",f"; })
        .run();
    EXPECT_EQ(trace, "tc:boom,f");
}

TEST(TryCatchFinally, PendingExceptionsPropagateAfterFinally) {
    std::string trace;
    // What the catch step throws is pending.
    EXPECT_THROW(TryCatchFinally([] { throw std::runtime_error("first"); })
                     .onCatch([](const std::exception&) { throw std::logic_error("from catch"); })
                     .onFinally([&] { trace += "f1"; })
                     .run(),
                 std::logic_error);
    // Something that is no std::exception skips the catch step.
    bool caught = false;
    EXPECT_THROW(TryCatchFinally([] { throw 42; })
                     .onCatch([&](const std::exception&) { caught = true; })
                     .onFinally([&] { trace += "f2"; })
                     .run(),
                 int);
    EXPECT_FALSE(caught);
    // A throwing finally step wins over the pending exception.
    EXPECT_THROW(tryCatchFinally([] { throw 1; }, nullptr, [] { throw std::out_of_range("finally"); }),
                 std::out_of_range);
    EXPECT_EQ(trace, "f1f2");
    // With no catch step a std::exception counts as handled, as with an empty one.
    EXPECT_NO_THROW(tryCatchFinally([] { throw std::runtime_error("x"); }, nullptr, nullptr));
}

}  // namespace
}  // namespace hw
