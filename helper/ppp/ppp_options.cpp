#include "helper/ppp/ppp_options.h"

#include "helper/helper_validation.h"

namespace hw::helper::ppp {

namespace {

// Paths come from the helper's own configuration, but they still land in a
// shell script and in files without quoting: keep them to a plain alphabet.
bool isPlainPath(std::string_view p) {
    if (p.empty() || p.front() != '/') return false;
    for (char c : p) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                  c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

bool isServiceID(std::string_view id) {
    if (id.size() != 32) return false;
    for (char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool pathsArePlain(const PppPaths& p) {
    return isPlainPath(p.runDir) && isPlainPath(p.logFile) && isPlainPath(p.pptp);
}

}  // namespace

bool isEndpoint(std::string_view text) { return serverProblem(text).empty(); }

bool isCredential(std::string_view text) {
    if (text.empty() || text.size() > 255) return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

std::string pppQuote(std::string_view value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string optionsPath(const PppPaths& paths, const std::string& id) { return paths.runDir + "/" + id + ".options"; }
std::string upMarkerPath(const PppPaths& paths, const std::string& id) { return paths.runDir + "/" + id + ".up"; }
std::string ipUpScriptPath(const PppPaths& paths) { return paths.runDir + "/ip-up"; }
std::string ipDownScriptPath(const PppPaths& paths) { return paths.runDir + "/ip-down"; }

namespace {
std::string markerScript(const PppPaths& paths, bool up) {
    // $6 is pppd's ipparam: our service ID; anything else is ignored.
    std::string s = "#!/bin/sh\ncase \"$6\" in ''|*[!0-9a-f]*) exit 0 ;; esac\n";
    if (up)
        s += "printf '%s\\n' \"$1\" > '" + paths.runDir + "/'\"$6\"'.up'\n";
    else
        s += "rm -f '" + paths.runDir + "/'\"$6\"'.up'\n";
    return s;
}
}  // namespace

std::string ipUpScript(const PppPaths& paths) { return markerScript(paths, true); }
std::string ipDownScript(const PppPaths& paths) { return markerScript(paths, false); }

std::optional<std::string> pppdOptions(const PppService& s, const PppSecrets& secrets, const PppPaths& paths) {
    if (!isServiceID(s.serviceID) || !isEndpoint(s.endpoint) || !isCredential(s.username) ||
        !isCredential(secrets.password) || !pathsArePlain(paths))
        return std::nullopt;
    std::string o = "# Written by the Havenway helper for one connection; not to be edited.\n";
    o += "nodetach\nnoauth\n";
    o += "user " + pppQuote(s.username) + "\n";
    o += "password " + pppQuote(secrets.password) + "\n";
    o += "ipparam " + s.serviceID + "\n";
    o += "mtu " + std::to_string(kPppMtu) + "\nmru " + std::to_string(kPppMtu) + "\n";
    o += "novj\nnovjccomp\n";
    o += "lcp-echo-interval 20\nlcp-echo-failure 15\n";
    // All traffic through the tunnel: the link takes the default route (pppd
    // puts the old one back when it ends); pptp keeps a host route to the
    // server itself.
    o += "maxfail 1\nnoipdefault\ndefaultroute\nreplacedefaultroute\n";
    o += "refuse-eap\nnobsdcomp\nnodeflate\n";
    o += "logfile " + pppQuote(paths.logFile) + "\n";
    o += "ip-up-script " + pppQuote(ipUpScriptPath(paths)) + "\n";
    o += "ip-down-script " + pppQuote(ipDownScriptPath(paths)) + "\n";
    if (s.type == PppServiceType::PPTP) {
        o += "require-mppe-128\n";
        // pppd hands this string to a shell: both parts passed strict checks.
        o += "pty " + pppQuote(paths.pptp + " " + s.endpoint + " --nolaunchpppd") + "\n";
    }
    return o;
}

std::optional<std::string> xl2tpdConfig(const PppService& s, const PppPaths& paths) {
    if (s.type != PppServiceType::L2TP || !isServiceID(s.serviceID) || !isEndpoint(s.endpoint) ||
        !pathsArePlain(paths))
        return std::nullopt;
    std::string c = "; Written by the Havenway helper for one connection; not to be edited.\n";
    c += "[global]\naccess control = no\n";
    c += "[lac havenway]\n";
    c += "lns = " + s.endpoint + "\n";
    c += "pppoptfile = " + optionsPath(paths, s.serviceID) + "\n";
    c += "length bit = yes\nredial = no\nautodial = yes\n";
    return c;
}

}  // namespace hw::helper::ppp
