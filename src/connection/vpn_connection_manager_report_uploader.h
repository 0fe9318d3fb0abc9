#pragma once
#include <string>

#include "connection/vpn_connection_manager_ports.h"
#include "platform/backend/parse_client.h"

namespace hw {

// Saves the "ErrorLogReport" object through the backend client. With nobody
// signed in the report goes without a "user".
class ParseErrorLogReportUploader final : public ErrorLogReportUploader {
public:
    ParseErrorLogReportUploader(ParseClient& client, std::string platform)
        : client_(client), platform_(std::move(platform)) {}
    void upload(const std::string& errorMessage, const std::string& logBytes) override;

    static ParseObject makeReport(const std::optional<ParseUser>& user, const std::string& platform,
                                  const std::string& errorMessage, ParseFilePtr log);

private:
    ParseClient& client_;
    std::string platform_;
};

}  // namespace hw
