#include <gtest/gtest.h>

#include "json/json.h"
#include "support/capture_log.h"

namespace hw {
namespace {

// json/ sits below the log and cannot call it: the log hands it a sink.
TEST(Log, CarriesTheJSONLibrarysLine) {
    auto log = test::CaptureLog::install();
    using K = writingOptionsKeys;
    EXPECT_FALSE(JSON(5).rawString(JSONWritingOptionsMap{{K::castNilToNSNull, true}, {K::maxObjextDepth, std::int64_t{-1}}}));
    log::setSink(nullptr);
    EXPECT_TRUE(log->contains("Could not serialize object to JSON because: JSON is invalid."));
}

}  // namespace
}  // namespace hw
