#pragma once
#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/log.h"

namespace hw::helper {

// After another sink that writes to a descriptor (stderr): when that is a
// regular file grown past the cap, it moves aside to "<name>.1" (replacing
// the one before) and a new file takes its place, so the helper's log
// never holds more than about twice the cap. The journal or a terminal are
// left alone: they bound themselves.
class LogFileCap final : public LogSink {
public:
    static constexpr off_t kCapBytes = 16 * 1024 * 1024;

    LogFileCap(std::shared_ptr<LogSink> next, int fd = 2, off_t capBytes = kCapBytes);
    void write(LogLevel level, std::string_view category, std::string_view message) override;

private:
    void rotateIfFull();

    std::shared_ptr<LogSink> next_;
    int fd_;
    off_t cap_;
    std::atomic<off_t> sinceCheck_{0};
    std::mutex rotating_;
};

}  // namespace hw::helper
