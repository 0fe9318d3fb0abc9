#include "helper/ike/ike_alerts.h"

#include <array>
#include <utility>

namespace hw::ike {

namespace {

bool has(std::string_view line, std::string_view text) { return line.find(text) != std::string_view::npos; }

}  // namespace

std::optional<std::string> alertForCharonLog(std::string_view line) {
    // Order matters: a refused EAP makes charon also log a failed IKE_SA, and
    // the first specific cause is the one the user should read.
    static const std::array<std::pair<std::string_view, std::string_view>, 18> kTable = {{
        // The server refused our EAP credentials.
        {"ERROR_AUTHENTICATION_FAILURE", "local-auth"},
        {"EAP_MSCHAPV2 method failed", "local-auth"},
        {"EAP_FAILURE, EAP authentication failed", "local-auth"},
        {"received AUTHENTICATION_FAILED notify", "local-auth"},
        {"(myself) failed", "local-auth"},
        // We refused the server's certificate or identity.
        {"constraint check failed", "remote-auth"},
        {"no trusted", "remote-auth"},
        {"is not trusted", "remote-auth"},
        {"no issuer certificate found", "remote-auth"},
        {"signature validation failed", "remote-auth"},
        {"unable to resolve", "dns"},
        {"Network is unreachable", "unreachable"},
        {"No route to host", "unreachable"},
        {"Host is unreachable", "unreachable"},
        {"giving up after", "timeout"},
        {"peer not responding", "timeout"},
        {"NO_PROPOSAL_CHOSEN", "proposal-mismatch"},
        {"TS_UNACCEPTABLE", "ts-mismatch"},
    }};
    for (const auto& [text, alert] : kTable) {
        if (has(line, text)) return std::string(alert);
    }
    return std::nullopt;
}

}  // namespace hw::ike
