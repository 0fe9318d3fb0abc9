#include "connection/vpn_connection_manager_report_uploader.h"

#include "platform/log.h"

namespace hw {

ParseObject ParseErrorLogReportUploader::makeReport(const std::optional<ParseUser>& user, const std::string& platform,
                                                    const std::string& errorMessage, ParseFilePtr log) {
    ParseObject report("ErrorLogReport");
    if (user && !user->objectId.empty()) report.setPointer("user", "_User", user->objectId);
    report.set("platform", JSON(platform));
    report.set("errorMessage", JSON(errorMessage));
    report.setFile("log", std::move(log));
    return report;
}

void ParseErrorLogReportUploader::upload(const std::string& errorMessage, const std::string& logBytes) {
    ParseFilePtr file = client_.fileWithData("error.log", Bytes(logBytes.begin(), logBytes.end()), "text/plain");
    if (!file) {
        log::warning("VPNManager", "uploadErrorLogReport -- the log file could not be made");
        return;
    }
    client_.saveInBackground(makeReport(client_.currentUser(), platform_, errorMessage, std::move(file)));
}

}  // namespace hw
