#include "services/app_exception_reporting_helper.h"

#include "platform/log.h"

namespace hw {

AppExceptionReportingHelper::AppExceptionReportingHelper(ParseClient& parse, std::string platform,
                                                         std::string appVersion)
    : parse_(parse), platform_(std::move(platform)), appVersion_(std::move(appVersion)) {}

void AppExceptionReportingHelper::sendExceptionReport(const std::string& callStack, const std::string& exceptionType,
                                                      std::function<void(bool)> done) {
    ParseObject report(kClassName);
    if (parse_.currentUser()) report.setPointer("user", "_User", parse_.currentUser()->objectId);
    report.set("platform", JSON(platform_));
    report.set("appVersion", JSON(appVersion_));
    report.set("exceptionType", JSON(exceptionType.substr(0, 256)));
    report.set("callStack", JSON(callStack.substr(0, kMaxCallStack)));
    parse_.save(std::move(report), [done](ParseObject, OptionalParseError error) {
        if (error) {
            log::warning("AppExceptionReportingHelper",
                         "sendExceptionReport() failed with code " + std::to_string(error->code));
        } else {
            log::info("AppExceptionReportingHelper", "sendExceptionReport() -- report stored");
        }
        if (done) done(!error);
    });
}

}  // namespace hw
