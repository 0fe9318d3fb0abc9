#pragma once
#include <memory>
#include <string>
#include <string_view>

namespace hw {

enum class LogLevel { Debug, Info, Warning, Error };

// Where log lines go. The default sink writes a console line and syslog
// (not syslog when the console is the journal already);
// tests install a capture sink. Never pass passwords, tokens or bodies.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(LogLevel level, std::string_view category, std::string_view message) = 0;
};

namespace log {
void setSink(std::shared_ptr<LogSink> sink);  // nullptr restores the default
std::shared_ptr<LogSink> sink();
void write(LogLevel level, std::string_view category, std::string_view message);
// Whether JOURNAL_STREAM's "device:inode" names this stream.
bool isJournalStream(const char* value, unsigned long long device, unsigned long long inode);
inline void debug(std::string_view c, std::string_view m) { write(LogLevel::Debug, c, m); }
inline void info(std::string_view c, std::string_view m) { write(LogLevel::Info, c, m); }
inline void warning(std::string_view c, std::string_view m) { write(LogLevel::Warning, c, m); }
inline void error(std::string_view c, std::string_view m) { write(LogLevel::Error, c, m); }
}  // namespace log

}  // namespace hw
