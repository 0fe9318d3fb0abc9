#pragma once
#include <functional>
#include <string>

#include "platform/backend/parse_client.h"

namespace hw {

// Stores "AppException" reports in the backend.
class AppExceptionReportingHelper {
public:
    static constexpr char kClassName[] = "AppException";
    // Longer stacks are cut, so one report stays a reasonable request.
    static constexpr std::size_t kMaxCallStack = 64 * 1024;

    AppExceptionReportingHelper(ParseClient& parse, std::string platform, std::string appVersion);

    // done (optional) learns whether the backend stored the report.
    void sendExceptionReport(const std::string& callStack, const std::string& exceptionType,
                             std::function<void(bool stored)> done = nullptr);

private:
    ParseClient& parse_;
    std::string platform_;
    std::string appVersion_;
};

}  // namespace hw
