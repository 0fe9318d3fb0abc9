#include "app/exception_handling_object.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <typeinfo>

#include "platform/log.h"
#include "platform/paths.h"

namespace hw {
namespace {

constexpr char kLog[] = "ExceptionHandling";
constexpr std::size_t kMaxReportBytes = 256 * 1024;

// Where the terminate handler, one per process, keeps its report.
std::string g_reportPath;

std::vector<std::string> symbols(int skip, int count) {
    void* frames[128];
    const int n = ::backtrace(frames, 128);
    std::unique_ptr<char*, void (*)(void*)> names(::backtrace_symbols(frames, n), std::free);
    std::vector<std::string> out;
    if (!names) return out;
    for (int i = skip; i < n && (count < 0 || i < skip + count); ++i) out.emplace_back(names.get()[i]);
    return out;
}

}  // namespace

std::string ExceptionHandlingObject::typeName(const std::exception& exception) {
    const char* raw = typeid(exception).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(raw, nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? demangled.get() : raw;
}

std::string ExceptionHandlingObject::callStackSymbols() {
    std::string joined;
    for (const auto& s : symbols(2, -1)) joined += (joined.empty() ? "" : kSeparator) + s;
    return joined;
}

std::vector<std::string> ExceptionHandlingObject::backtrace() { return symbols(4, 5); }

void ExceptionHandlingObject::handleException(const std::exception& exception) {
    if (handled_.fetch_add(1) + 1 > kMaxHandled) return;
    const std::string type = typeName(exception);
    const std::string stack = callStackSymbols();
    log::error(kLog, "Uncaught exception intercepted: " + type);
    log::error(kLog, stack);
    log::error(kLog, exception.what());
    if (reporter_) reporter_(stack, type);
}

void ExceptionHandlingObject::wrapMainProcessingWithExceptionHandling(const std::function<void()>& block) {
    try {
        block();
    } catch (const std::exception& e) {
        handleException(e);
    }
}

void ExceptionHandlingObject::initUncaughtExceptionsHandling(const std::string& reportPath) {
    reportPath_ = reportPath;
    g_reportPath = reportPath;
    std::set_terminate(&ExceptionHandlingObject::onTerminate);
}

void ExceptionHandlingObject::onTerminate() {
    std::string type = "std::terminate";
    std::string what;
    if (auto current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            type = typeName(e);
            what = e.what();
        } catch (...) {
            type = "unknown exception";
        }
    }
    const std::string stack = callStackSymbols();
    log::error(kLog, "Uncaught exception intercepted: " + type);
    log::error(kLog, stack);
    if (!what.empty()) log::error(kLog, what);
    if (!g_reportPath.empty()) {
        const nlohmann::json report = {{"type", type}, {"stack", stack}};
        std::string error;
        if (paths::ensurePrivateDir(paths::parentOf(g_reportPath), &error))
            paths::writeFileAtomically(g_reportPath, report.dump(), 0600, &error);
    }
    std::abort();
}

void ExceptionHandlingObject::sendStoredExceptionReport() {
    if (reportPath_.empty()) return;
    std::string text;
    if (paths::readFile(reportPath_, text, kMaxReportBytes) != paths::ReadStatus::Ok) return;
    ::unlink(reportPath_.c_str());
    const auto report = nlohmann::json::parse(text, nullptr, false);
    if (!report.is_object() || !report.value("type", nlohmann::json()).is_string() ||
        !report.value("stack", nlohmann::json()).is_string()) {
        log::warning(kLog, "stored exception report unreadable; dropped");
        return;
    }
    if (reporter_) reporter_(report["stack"].get<std::string>(), report["type"].get<std::string>());
}

void ExceptionHandlingObject::prepareDirectoryForVPNLogger() {
    const std::string path = paths::logsDir();
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0) return;
    log::info(kLog, "prepareDirectoryForVPNLogger -- creating intermediate dirs for the VPN logger path.");
    std::string error;
    if (!paths::ensurePrivateDir(path, &error)) log::warning(kLog, "log folder not made: " + error);
}

}  // namespace hw
