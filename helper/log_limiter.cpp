#include "helper/log_limiter.h"

#include <algorithm>
#include <cctype>

namespace hw::helper {

namespace {

// Opens a quoted value where a word cannot go on: "it's" quotes nothing.
char closingQuote(char c, char before) {
    switch (c) {
    case '"': return '"';
    case '`': return '`';
    case '<': return '>';
    case '\'': return std::isalnum(static_cast<unsigned char>(before)) ? 0 : '\'';
    default: return 0;
    }
}

// Numbers (pids, uids, counts) and quoted values (what a peer sent, in
// whatever quotes) differ from line to line of one cause.
std::string causeOf(LogLevel level, std::string_view category, std::string_view message) {
    std::string key = std::to_string(static_cast<int>(level)) + "|" + std::string(category) + "|";
    // The wording's first characters, after quoted values collapsed: a long
    // one must not push the rest of the wording out by its length.
    const std::size_t bound = key.size() + 160;
    char quote = 0;
    char before = ' ';
    for (char c : message) {
        if (key.size() >= bound) break;
        if (quote) {
            if (c == quote) {
                key.push_back(c);
                quote = 0;
            }
        } else if (const char closing = closingQuote(c, before)) {
            key.push_back(c);
            quote = closing;
        } else if (c >= '0' && c <= '9') {
            if (key.back() != '#') key.push_back('#');
        } else {
            key.push_back(c);
        }
        before = c;
    }
    return key;
}

std::string boundedLine(std::string_view message) {
    if (message.size() <= LogLimiter::kLineBytes) return std::string(message);
    return std::string(message.substr(0, LogLimiter::kLineBytes)) + "... (" + std::to_string(message.size()) + " bytes)";
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
    const std::string line = boundedLine(message);
    std::vector<Line> lines;
    bool through = true;
    {
        std::lock_guard lock(mutex_);
        takeEnded(at, false, lines);
        std::string key = causeOf(level, category, line);
        if (!causes_.count(key) && causes_.size() >= kCauses) key = "*";
        auto [it, fresh] = causes_.try_emplace(key, Cause{level, std::string(category), at, 0, 0, {}});
        Cause& cause = it->second;
        if (cause.written < kLinesPerWindow) {
            ++cause.written;
        } else {
            through = false;
            if (cause.leftOut++ == 0) {
                cause.firstLeftOut = line;
                wake_.notify_all();
            }
        }
        // However many causes there are, the disk sees a bounded rate.
        if (through) through = withinTotal(at, category.size() + line.size());
    }
    emit(lines);
    if (through) next_->write(level, category, line);
}

bool LogLimiter::withinTotal(TimePoint at, std::size_t bytes) {
    if (!total_.start || at >= *total_.start + kWindow) {
        total_.start = at;
        total_.lines = total_.bytes = 0;
    }
    if (total_.lines < kTotalLines && total_.bytes + bytes <= kTotalBytes) {
        ++total_.lines;
        total_.bytes += bytes;
        return true;
    }
    if (total_.leftOut++ == 0) wake_.notify_all();
    return false;
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
    if (total_.leftOut > 0 && total_.start && (everything || at >= *total_.start + kWindow)) {
        out.push_back({LogLevel::Warning, "LogLimiter",
                       "left out " + std::to_string(total_.leftOut) + " more lines over " +
                           std::to_string(kTotalLines) + " lines or " + std::to_string(kTotalBytes) +
                           " bytes a second"});
        total_.leftOut = 0;
    }
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
        if (total_.leftOut > 0 && total_.start && (!due || *total_.start + kWindow < *due)) due = *total_.start + kWindow;
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
