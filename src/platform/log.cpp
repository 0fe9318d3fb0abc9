#include "platform/log.h"

#include <sys/stat.h>
#include <syslog.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "json/json_log.h"

namespace hw {
namespace {

class DefaultSink final : public LogSink {
public:
    DefaultSink() {
        struct stat st {};
        stderrIsJournal_ = ::fstat(2, &st) == 0 && log::isJournalStream(std::getenv("JOURNAL_STREAM"), st.st_dev, st.st_ino);
    }

    void write(LogLevel level, std::string_view category, std::string_view message) override {
        static const char* names[] = {"debug", "info", "warning", "error"};
        static const int priorities[] = {LOG_DEBUG, LOG_INFO, LOG_WARNING, LOG_ERR};
        const auto i = static_cast<int>(level);
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "[%s] %.*s: %.*s\n", names[i], static_cast<int>(category.size()),
                     category.data(), static_cast<int>(message.size()), message.data());
        if (level != LogLevel::Debug && !stderrIsJournal_ && syslogListening()) {
            syslog(priorities[i], "%.*s: %.*s", static_cast<int>(category.size()), category.data(),
                   static_cast<int>(message.size()), message.data());
        }
    }

private:
    // Without a syslog socket, syslog() would try to connect again for every
    // line; look for one now and then instead.
    bool syslogListening() {
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextSyslogCheck_) {
            struct stat st {};
            syslogListening_ = ::stat("/dev/log", &st) == 0 && S_ISSOCK(st.st_mode);
            nextSyslogCheck_ = now + std::chrono::seconds(10);
        }
        return syslogListening_;
    }

    std::mutex mutex_;
    // Under systemd the console line already reaches the journal: a syslog
    // copy would put every line there twice.
    bool stderrIsJournal_ = false;
    bool syslogListening_ = false;
    std::chrono::steady_clock::time_point nextSyslogCheck_{};
};

// Never destroyed: a thread still at work when the process exits (a keyring
// call that never returned) may log after the static destructors have run.
struct SinkSlot {
    std::mutex mutex;
    std::shared_ptr<LogSink> sink;
};
SinkSlot& slot() {
    static auto* s = new SinkSlot;
    return *s;
}

// Any program that logs links this file, and with it json/'s lines.
[[maybe_unused]] const bool g_jsonLogInstalled = [] {
    setJSONLogSink([](std::string_view line) { log::info("json", line); });
    return true;
}();

}  // namespace

namespace log {

bool isJournalStream(const char* value, unsigned long long device, unsigned long long inode) {
    unsigned long long d = 0, i = 0;
    char rest = 0;
    return value && std::sscanf(value, "%llu:%llu%c", &d, &i, &rest) == 2 && d == device && i == inode;
}

void setSink(std::shared_ptr<LogSink> s) {
    std::lock_guard lock(slot().mutex);
    slot().sink = std::move(s);
}

std::shared_ptr<LogSink> sink() {
    std::lock_guard lock(slot().mutex);
    if (!slot().sink) slot().sink = std::make_shared<DefaultSink>();
    return slot().sink;
}

void write(LogLevel level, std::string_view category, std::string_view message) {
    sink()->write(level, category, message);
}

}  // namespace log
}  // namespace hw
