#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "platform/log.h"

namespace hw::test {

// Installs itself as the log sink for its lifetime and keeps every line.
class CaptureLog final : public LogSink, public std::enable_shared_from_this<CaptureLog> {
public:
    struct Line {
        LogLevel level;
        std::string category;
        std::string message;
    };
    static std::shared_ptr<CaptureLog> install() {
        auto c = std::make_shared<CaptureLog>();
        log::setSink(c);
        return c;
    }
    ~CaptureLog() override = default;
    void write(LogLevel level, std::string_view category, std::string_view message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back({level, std::string(category), std::string(message)});
    }
    std::vector<Line> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // How many lines came at this level or above: what a test may ask of
    // lines whose wording is ours to change.
    std::size_t countAtLeast(LogLevel level) const {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& l : lines_) n += l.level >= level ? 1 : 0;
        return n;
    }
    // True when any line contains the text (e.g. to prove a secret never appears).
    bool contains(const std::string& text) const {
        std::lock_guard lock(mutex_);
        for (const auto& l : lines_) {
            if (l.message.find(text) != std::string::npos || l.category.find(text) != std::string::npos) return true;
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

}  // namespace hw::test
