#pragma once
#include <atomic>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace hw {

// Catches the exceptions of the shell's entries, logs and reports them, and
// keeps the report of one that ends the process for the next launch.
class ExceptionHandlingObject {
public:
    static constexpr int kMaxHandled = 10;
    static constexpr char kSeparator[] = "  |   ";

    // Gets the joined stack and the exception's type name.
    using Reporter = std::function<void(const std::string& callStack, const std::string& exceptionType)>;

    explicit ExceptionHandlingObject(Reporter reporter = nullptr) : reporter_(std::move(reporter)) {}
    virtual ~ExceptionHandlingObject() = default;

    void setReporter(Reporter reporter) { reporter_ = std::move(reporter); }

    // An exception that would end the process is logged and its report stored
    // (0600) at reportPath before the process aborts.
    void initUncaughtExceptionsHandling(const std::string& reportPath);
    // Sends a report that an earlier run stored, then removes it.
    void sendStoredExceptionReport();
    // A std::exception that escapes the block is handled and the call returns;
    // anything else passes on.
    void wrapMainProcessingWithExceptionHandling(const std::function<void()>& block);
    // The first kMaxHandled of this object are logged and reported.
    void handleException(const std::exception& exception);
    // Five frames of the caller's stack, after the capturing ones.
    static std::vector<std::string> backtrace();
    // The log folder, private to the user; an existing entry is left alone.
    static void prepareDirectoryForVPNLogger();

    static std::string typeName(const std::exception& exception);
    static std::string callStackSymbols();

private:
    static void onTerminate();

    Reporter reporter_;
    std::atomic<int> handled_{0};
    std::string reportPath_;
};

}  // namespace hw
