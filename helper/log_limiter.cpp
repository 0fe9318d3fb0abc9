#include "helper/log_limiter.h"

#include <algorithm>

namespace hw::helper {

namespace {

// Numbers (pids, uids, counts) and quoted values (what a peer sent) differ
// from line to line of one cause.
std::string causeOf(LogLevel level, std::string_view category, std::string_view message) {
    std::string key = std::to_string(static_cast<int>(level)) + "|" + std::string(category) + "|";
    bool quoted = false;
    for (char c : message.substr(0, 160)) {
        if (c == '"') {
            if (!quoted) key += "\"\"";
            quoted = !quoted;
        } else if (quoted) {
            continue;
        } else if (c >= '0' && c <= '9') {
            if (key.back() != '#') key.push_back('#');
        } else {
            key.push_back(c);
        }
    }
    return key;
}

}  // namespace

LogLimiter::LogLimiter(std::shared_ptr<LogSink> next, Clock clock) : next_(std::move(next)), clock_(std::move(clock)) {
    if (!clock_) teller_ = std::thread([this] { tell(); });
}

LogLimiter::~LogLimiter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (teller_.joinable()) teller_.join();
    std::vector<Line> lines;
    std::lock_guard lock(mutex_);
    takeEnded(now(), true, lines);
    emit(lines);
}

void LogLimiter::write(LogLevel level, std::string_view category, std::string_view message) {
    const TimePoint at = now();
    std::vector<Line> lines;
    bool through = true;
    {
        std::lock_guard lock(mutex_);
        takeEnded(at, false, lines);
        std::string key = causeOf(level, category, message);
        if (!causes_.count(key) && causes_.size() >= kCauses) key = "*";
        auto [it, fresh] = causes_.try_emplace(key, Cause{level, std::string(category), at, 0, 0, {}});
        Cause& cause = it->second;
        if (cause.written < kLinesPerWindow) {
            ++cause.written;
        } else {
            through = false;
            if (cause.leftOut++ == 0) {
                cause.firstLeftOut = message;
                wake_.notify_all();
            }
        }
    }
    emit(lines);
    if (through) next_->write(level, category, message);
}

void LogLimiter::flush() {
    std::vector<Line> lines;
    {
        std::lock_guard lock(mutex_);
        takeEnded(now(), false, lines);
    }
    emit(lines);
}

void LogLimiter::takeEnded(TimePoint at, bool everything, std::vector<Line>& out) {
    std::erase_if(causes_, [&](const auto& entry) {
        const Cause& cause = entry.second;
        if (!everything && at < cause.start + kWindow) return false;
        if (cause.leftOut > 0)
            out.push_back({cause.level, cause.category,
                           "left out " + std::to_string(cause.leftOut) + " more line" +
                               (cause.leftOut == 1 ? "" : "s") + " like: " + cause.firstLeftOut});
        return true;
    });
}

void LogLimiter::emit(const std::vector<Line>& lines) {
    for (const auto& line : lines) next_->write(line.level, line.category, line.message);
}

void LogLimiter::tell() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        std::optional<TimePoint> due;
        for (const auto& [key, cause] : causes_)
            if (cause.leftOut > 0 && (!due || cause.start + kWindow < *due)) due = cause.start + kWindow;
        if (due)
            wake_.wait_until(lock, *due);
        else
            wake_.wait(lock);
        if (stopping_) break;
        std::vector<Line> lines;
        takeEnded(now(), false, lines);
        lock.unlock();
        emit(lines);
        lock.lock();
    }
}

}  // namespace hw::helper
