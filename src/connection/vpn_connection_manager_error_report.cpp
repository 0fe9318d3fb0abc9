#include <chrono>

#include "connection/vpn_connection_manager.h"
#include "connection/vpn_connection_manager_log.h"

namespace hw {

using manager_log::logLine;

namespace {
void maskAll(std::string& text, const std::optional<std::string>& secret) {
    if (!secret || secret->empty()) return;
    static const std::string mask = "******";
    for (std::size_t at = text.find(*secret); at != std::string::npos; at = text.find(*secret, at + mask.size())) {
        text.replace(at, secret->size(), mask);
    }
}
}  // namespace

std::string VPNConnectionManager::boundedReportLog(std::string log) const {
    if (currentVPNConfig_) {
        maskAll(log, currentVPNConfig_->password);
        maskAll(log, currentVPNConfig_->l2tpSharedKey);
    }
    if (log.size() > kReportLogLimit) {
        log.erase(0, log.size() - kReportLogLimit);
        // Start on a whole line.
        auto nl = log.find('\n');
        if (nl != std::string::npos && nl + 1 < log.size()) log.erase(0, nl + 1);
    }
    return log;
}

void VPNConnectionManager::writeErrorLog(const std::string& message) {
    const std::string log = boundedReportLog(OpenVPN_connectionProvider ? OpenVPN_connectionProvider->logData() : "");
    if (!writeString(log, env_.errorLogFilePath)) logLine("writeErrorLog -- the error log could not be written");
    uploadErrorLogReport(message, log);
}

void VPNConnectionManager::sendPPPLogErrorReport(const std::string& message) {
    // tail may take a while on a large log: it never runs on the main thread.
    std::weak_ptr<bool> alive = alive_;
    ProcessRequest request;
    request.argv = {"/usr/bin/tail", "-n", std::to_string(kPPPLogLines), env_.pppLogFilePath};
    request.timeout = std::chrono::seconds(5);
    ProcessRunner* runner = &env_.processRunner;
    MainQueue* queue = &env_.mainQueue;
    env_.background.async([this, alive, runner, queue, request, message] {
        std::string output;
        if (!request.argv.back().empty()) {
            ProcessResult result = runner->run(request);
            if (result.started && !result.timedOut) output = std::move(result.out);
        }
        queue->post([this, alive, message, output = std::move(output)] {
            if (!alive.lock()) return;
            const std::string log = boundedReportLog(output);
            if (!writeString(log, env_.errorLogFilePath)) {
                logLine("sendPPPLogErrorReport -- the error log could not be written");
            }
            uploadErrorLogReport(message, log);
        });
    });
}

void VPNConnectionManager::uploadErrorLogReport(const std::string& message, const std::string& logBytes) {
    env_.uploader.upload(message, logBytes);
}

}  // namespace hw
