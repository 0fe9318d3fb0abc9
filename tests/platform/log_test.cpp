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

TEST(Log, OnlyTheJournalsOwnStreamSkipsTheSyslogCopy) {
    struct Row {
        const char* value;
        bool same;
    } rows[] = {{"2049:77", true}, {"2049:78", false}, {"2050:77", false}, {nullptr, false},
                {"", false},       {"2049", false},    {"2049:77x", false}, {"x:77", false}};
    for (const auto& r : rows) EXPECT_EQ(log::isJournalStream(r.value, 2049, 77), r.same) << (r.value ? r.value : "null");
}

}  // namespace
}  // namespace hw
