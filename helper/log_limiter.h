#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/log.h"

namespace hw::helper {

// A log sink before another that lets at most a few lines a second through
// for any one cause (the same level, category and wording, numbers and
// quoted values aside), then one line with the count of those left out: a
// flood of connections or requests costs a few lines, not the disk. All
// causes together are bounded too, in lines and bytes a second.
class LogLimiter final : public LogSink {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;
    static constexpr std::size_t kLinesPerWindow = 5;
    static constexpr std::chrono::seconds kWindow{1};
    // Causes told apart at once; the rest share one. An openvpn connect alone
    // prints some 60 different lines in a second: none of them is a flood.
    static constexpr std::size_t kCauses = 256;
    // All causes together, and the longest line written whole.
    static constexpr std::size_t kTotalLines = 256;
    static constexpr std::size_t kTotalBytes = 32 * 1024;
    static constexpr std::size_t kLineBytes = 2048;

    // Without a clock, a thread of its own tells what was left out as soon
    // as a window ends; with one (tests), only writes and flush() do.
    explicit LogLimiter(std::shared_ptr<LogSink> next, Clock clock = {});
    ~LogLimiter() override;
    LogLimiter(const LogLimiter&) = delete;
    LogLimiter& operator=(const LogLimiter&) = delete;

    void write(LogLevel level, std::string_view category, std::string_view message) override;
    // Tells what was left out in the windows that have ended.
    void flush();

private:
    struct Cause {
        LogLevel level;
        std::string category;
        TimePoint start;
        std::size_t written = 0;
        std::size_t leftOut = 0;
        std::string firstLeftOut;
    };
    struct Line {
        LogLevel level;
        std::string category;
        std::string message;
    };
    TimePoint now() const { return clock_ ? clock_() : std::chrono::steady_clock::now(); }
    // With the mutex held: the counts of the causes whose window ended
    // (all of them when everything), which are then forgotten.
    void takeEnded(TimePoint at, bool everything, std::vector<Line>& out);
    // With the mutex held: whether a line of these bytes fits this window.
    bool withinTotal(TimePoint at, std::size_t bytes);
    void emit(const std::vector<Line>& lines);
    void tell();

    std::shared_ptr<LogSink> next_;
    Clock clock_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::string, Cause> causes_;
    struct Total {
        std::optional<TimePoint> start;
        std::size_t lines = 0;
        std::size_t bytes = 0;
        std::size_t leftOut = 0;
    } total_;
    bool stopping_ = false;
    std::thread teller_;
};

}  // namespace hw::helper
