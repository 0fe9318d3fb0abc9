// Integration and ui tests log a great deal. A reader of a failed run wants the
// failure first: each test's lines are held and printed after its result, and
// only when it failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/log.h"

namespace hw::test {
namespace {

class HeldLog final : public LogSink {
public:
    void write(LogLevel level, std::string_view category, std::string_view message) override {
        static const char* names[] = {"debug", "info", "warning", "error"};
        std::string line = std::string("[") + names[static_cast<int>(level)] + "] ";
        line.append(category).append(": ").append(message).push_back('\n');
        std::lock_guard lock(mutex_);
        bytes_ += line.size();
        lines_.push_back(std::move(line));
        // A long test keeps its last lines, where a failure usually is.
        while (bytes_ > kMaxBytes && lines_.size() > 1) {
            bytes_ -= lines_.front().size();
            lines_.pop_front();
            ++dropped_;
        }
    }

    void printAndClear(bool print) {
        std::lock_guard lock(mutex_);
        if (print && !lines_.empty()) {
            std::fprintf(stderr, "---- the test's log%s\n",
                         dropped_ ? (" (its first " + std::to_string(dropped_) + " lines left out)").c_str() : "");
            for (const auto& line : lines_) std::fputs(line.c_str(), stderr);
            std::fprintf(stderr, "---- end of the test's log\n");
            std::fflush(stderr);
        }
        lines_.clear();
        bytes_ = 0;
        dropped_ = 0;
    }

private:
    static constexpr std::size_t kMaxBytes = 4u << 20;
    std::mutex mutex_;
    std::deque<std::string> lines_;
    std::size_t bytes_ = 0;
    std::size_t dropped_ = 0;
};

class HeldLogListener final : public testing::EmptyTestEventListener {
public:
    // A test or suite that installs a sink of its own keeps it.
    void OnTestStart(const testing::TestInfo&) override {
        if (log::sink() == console_) log::setSink(held_);
    }
    void OnTestEnd(const testing::TestInfo& info) override {
        const bool failed = info.result() && info.result()->Failed();
        if (log::sink() == held_) log::setSink(console_);
        held_->printAndClear(failed);
    }

private:
    std::shared_ptr<LogSink> console_ = log::sink();
    std::shared_ptr<HeldLog> held_ = std::make_shared<HeldLog>();
};

[[maybe_unused]] const bool g_installed = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new HeldLogListener);
    return true;
}();

}  // namespace
}  // namespace hw::test
