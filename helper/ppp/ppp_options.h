#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "helper/ppp/ppp_service.h"

namespace hw::helper::ppp {

inline constexpr int kPppMtu = 1400;

// A DNS host name (letters, digits, '-' inside labels, dots between) or a
// literal address: the only endpoints that may reach a command line.
bool isEndpoint(std::string_view text);
// A user name, password or key: 1..255 bytes, no control characters. These
// are quoted, never trusted to be plain.
bool isCredential(std::string_view text);
// One word of a pppd options file: double quotes, with '\' and '"' escaped,
// so that nothing in it can end the word or start an option or a comment.
std::string pppQuote(std::string_view value);

// The pppd options of a service: the PPP link with MTU/MRU 1400, LCP echo
// 20 s x 15, no VJ compression, MPPE-128 for PPTP, the helper's log file,
// the link-state scripts, and for PPTP the pptp client as its pty.
// Nothing when a value fails its check.
std::optional<std::string> pppdOptions(const PppService& service, const PppSecrets& secrets, const PppPaths& paths);

// The xl2tpd configuration of an L2TP service (one LAC, its pppd options).
std::optional<std::string> xl2tpdConfig(const PppService& service, const PppPaths& paths);

// Files of one service under the run folder.
std::string optionsPath(const PppPaths& paths, const std::string& serviceID);
std::string upMarkerPath(const PppPaths& paths, const std::string& serviceID);
std::string ipUpScriptPath(const PppPaths& paths);
std::string ipDownScriptPath(const PppPaths& paths);
// The scripts pppd runs when IP comes up and goes down: they mark the link
// state for the service named by pppd's ipparam (a checked service ID).
std::string ipUpScript(const PppPaths& paths);
std::string ipDownScript(const PppPaths& paths);

}  // namespace hw::helper::ppp
