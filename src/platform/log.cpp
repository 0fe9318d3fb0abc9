#include "platform/log.h"

#include <syslog.h>

#include <cstdio>
#include <mutex>

#include "json/json_log.h"

namespace hw {
namespace {

class DefaultSink final : public LogSink {
public:
    void write(LogLevel level, std::string_view category, std::string_view message) override {
        static const char* names[] = {"debug", "info", "warning", "error"};
        static const int priorities[] = {LOG_DEBUG, LOG_INFO, LOG_WARNING, LOG_ERR};
        const auto i = static_cast<int>(level);
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "[%s] %.*s: %.*s\n", names[i], static_cast<int>(category.size()),
                     category.data(), static_cast<int>(message.size()), message.data());
        if (level != LogLevel::Debug) {
            syslog(priorities[i], "%.*s: %.*s", static_cast<int>(category.size()), category.data(),
                   static_cast<int>(message.size()), message.data());
        }
    }

private:
    std::mutex mutex_;
};

std::mutex g_mutex;
std::shared_ptr<LogSink> g_sink;

// Any program that logs links this file, and with it json/'s lines.
[[maybe_unused]] const bool g_jsonLogInstalled = [] {
    setJSONLogSink([](std::string_view line) { log::info("json", line); });
    return true;
}();

}  // namespace

namespace log {

void setSink(std::shared_ptr<LogSink> s) {
    std::lock_guard lock(g_mutex);
    g_sink = std::move(s);
}

std::shared_ptr<LogSink> sink() {
    std::lock_guard lock(g_mutex);
    if (!g_sink) g_sink = std::make_shared<DefaultSink>();
    return g_sink;
}

void write(LogLevel level, std::string_view category, std::string_view message) {
    sink()->write(level, category, message);
}

}  // namespace log
}  // namespace hw
