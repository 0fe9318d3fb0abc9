#include "helper/ike/ipsec_transport_vici.h"

#include <array>
#include <string_view>
#include <utility>

#include "helper/ike/ike_alerts.h"
#include "helper/ike/ike_service.h"
#include "helper/nft_ruleset.h"
#include "helper/ppp/ppp_options.h"
#include "platform/log.h"

namespace hw::ike {

namespace {

constexpr const char* kCategory = "l2tp-ipsec";
constexpr std::size_t kMaxLogLines = 200;

bool isServiceID(std::string_view id) {
    if (id.size() != 32) return false;
    for (char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::string millis(std::chrono::milliseconds ms) { return std::to_string(ms.count()); }

// IKEv1 failures the IKEv2 road never sees come first; then the causes
// both share, named as the IKE alerts are.
std::optional<std::string> causeOf(std::string_view line) {
    static const std::array<std::pair<std::string_view, std::string_view>, 5> kIkev1 = {{
        // A wrong key garbles the encrypted part of main mode.
        {"decryption failed", "local-auth"},
        {"INVALID_HASH_INFORMATION", "local-auth"},
        {"PAYLOAD_MALFORMED", "local-auth"},
        {"INVALID_ID_INFORMATION", "ts-mismatch"},
        {"unable to install", "kernel"},
    }};
    for (const auto& [text, cause] : kIkev1)
        if (line.find(text) != std::string_view::npos) return std::string(cause);
    return alertForCharonLog(line);
}

std::string messageFor(const std::string& cause) {
    if (cause == "local-auth") return "the L2TP server refused the IPsec pre-shared key";
    if (cause == "remote-auth") return "the L2TP server's IPsec identity was refused";
    if (cause == "dns") return "the L2TP server's name does not resolve";
    if (cause == "unreachable") return "the L2TP server cannot be reached";
    if (cause == "timeout") return "the L2TP server did not answer the IPsec negotiation";
    if (cause == "proposal-mismatch") return "the L2TP server accepts none of our IPsec proposals";
    if (cause == "ts-mismatch") return "the L2TP server refused IPsec transport mode for L2TP";
    if (cause == "kernel") return "the kernel refused the IPsec security association";
    return "the IPsec negotiation with the L2TP server failed";
}

// Declared before a call's VICI client, so it fires after that has closed.
struct ReleaseOnExit {
    const std::function<void()>& released;
    bool fire = true;
    ~ReleaseOnExit() {
        if (fire && released) released();
    }
};

// control-log lines of one initiate, gathered on the client's reader thread.
struct LogLines {
    std::mutex mutex;
    std::vector<std::string> lines;
};

}  // namespace

std::string l2tpIpsecName(const std::string& serviceID) { return "havenway-l2tp-" + serviceID; }

ViciSection l2tpIpsecConnection(const std::string& name, const std::string& remote) {
    ViciSection body;
    auto& c = body.addSection(name);
    // What L2TP servers speak: IKEv1 main mode. Older servers still insist on
    // SHA-1 and MODP-1024, so those follow our preferred proposals.
    c.set("version", "1").set("aggressive", "no").setList("remote_addrs", {remote});
    c.setList("proposals", {"aes256-sha256-modp2048", "aes256-sha1-modp2048", "aes128-sha1-modp2048",
                            "aes256-sha1-modp1024", "aes128-sha1-modp1024", "3des-sha1-modp1024", "default"});
    c.set("dpd_delay", "30s").set("encap", "no");
    c.addSection("local").set("auth", "psk");
    c.addSection("remote").set("auth", "psk");
    auto& child = c.addSection("children").addSection(name);
    child.set("mode", "transport");
    child.setList("local_ts", {"dynamic[udp/1701]"}).setList("remote_ts", {"dynamic[udp/1701]"});
    child.setList("esp_proposals", {"aes256-sha1", "aes128-sha1", "3des-sha1", "default"});
    child.set("dpd_action", "clear").set("start_action", "none");
    // The kernel's ESP in UDP carries the sender's owner, not charon's: the
    // mark is what lets it past the kill switch.
    child.set("set_mark_out", std::to_string(helper::kLockMark));
    return body;
}

ViciSection l2tpIpsecSharedKey(const std::string& name, const std::string& secret) {
    // No owners: in main mode charon looks the key up before it knows the
    // server's identity, which L2TP servers choose freely.
    ViciSection body;
    body.set("id", name).set("type", "IKE").set("data", secret);
    return body;
}

std::string validateL2tpIpsec(const helper::ppp::IpsecTransport::Request& r) {
    if (!isServiceID(r.serviceID)) return "invalid service ID";
    if (!helper::ppp::isEndpoint(r.remote)) return "invalid L2TP server address";
    if (!helper::ppp::isCredential(r.sharedSecret)) return "the IPsec pre-shared key is empty or not usable";
    return {};
}

std::string l2tpIpsecError(const std::vector<std::string>& log, const std::string& errmsg) {
    for (const auto& line : log)
        if (auto cause = causeOf(line)) return messageFor(*cause);
    return "the IPsec negotiation with the L2TP server failed" + (errmsg.empty() ? std::string() : ": " + errmsg);
}

ViciIpsecTransport::ViciIpsecTransport(Connector connector, L2tpIpsecOptions options, std::function<void()> released)
    : connect_(std::move(connector)), options_(options), released_(std::move(released)) {}

bool ViciIpsecTransport::up(const Request& request, std::string* error) {
    auto failWith = [&](const std::string& why) {
        log::warning(kCategory, "IPsec for L2TP failed: " + why);
        if (error) *error = why;
        return false;
    };
    if (auto why = validateL2tpIpsec(request); !why.empty()) return failWith(why);
    std::lock_guard lock(mutex_);
    const std::string name = l2tpIpsecName(request.serviceID);

    auto gathered = std::make_shared<LogLines>();
    std::string why;
    ReleaseOnExit release{released_};
    auto vici = connect_(
        [gathered](const std::string& event, const ViciSection& body) {
            const auto* msg = body.value("msg");
            if (event != "control-log" || !msg) return;
            std::lock_guard lock(gathered->mutex);
            if (gathered->lines.size() < kMaxLogLines) gathered->lines.push_back(*msg);
        },
        &why);
    if (!vici) return failWith("the IKE daemon is not available: " + why);
    // Without it the failure reads less precisely; the connection still works.
    if (!vici->registerEvent("control-log", options_.commandTimeout, &why))
        log::warning(kCategory, "no log of the negotiation: " + why);

    // Whatever an earlier run of this service left behind goes first.
    active_.erase(request.serviceID);
    remove(*vici, name);
    auto cleanUp = [&] {
        if (!vici->isOpen()) vici = connect_({}, &why);
        if (vici) remove(*vici, name);
    };

    auto loaded = vici->request("load-shared", l2tpIpsecSharedKey(name, request.sharedSecret), options_.commandTimeout);
    if (!loaded.succeeded()) {
        cleanUp();
        return failWith("loading the IPsec pre-shared key failed: " + loaded.errmsg());
    }
    auto conn = vici->request("load-conn", l2tpIpsecConnection(name, request.remote), options_.commandTimeout);
    if (!conn.succeeded()) {
        cleanUp();
        return failWith("loading the IPsec connection failed: " + conn.errmsg());
    }

    log::info(kCategory, "negotiating IPsec transport mode with " + request.remote);
    ViciSection init;
    init.set("child", name).set("ike", name).set("timeout", millis(options_.establishTimeout));
    init.set("init-limits", "no").set("loglevel", "1");
    // charon answers once the CHILD_SA is up, or when it gave up.
    auto result = vici->request("initiate", init, options_.establishTimeout + options_.commandTimeout);
    if (result.succeeded()) {
        vici->close();
        release.fire = false;
        active_.insert(request.serviceID);
        log::info(kCategory, "IPsec transport mode with " + request.remote + " is up");
        return true;
    }
    std::vector<std::string> lines;
    {
        std::lock_guard guard(gathered->mutex);
        lines = gathered->lines;
    }
    std::string message;
    if (!result.ok)
        message = "the IKE daemon did not answer: " + result.error;
    else
        message = l2tpIpsecError(lines, result.errmsg());
    cleanUp();
    return failWith(message);
}

void ViciIpsecTransport::down(const std::string& serviceID) {
    std::lock_guard lock(mutex_);
    // Only what up() brought up: no daemon is started just to find nothing.
    if (active_.erase(serviceID) == 0) return;
    std::string why;
    ReleaseOnExit release{released_};
    auto vici = connect_({}, &why);
    if (!vici) {
        log::warning(kCategory, "cannot end the IPsec of L2TP: " + why);
        return;
    }
    remove(*vici, l2tpIpsecName(serviceID));
    log::info(kCategory, "IPsec transport mode ended");
}

void ViciIpsecTransport::remove(ViciClient& vici, const std::string& name) {
    // Each answers "no" when there is nothing to remove: that is fine.
    ViciSection t;
    t.set("ike", name).set("force", "yes").set("timeout", millis(options_.stopTimeout));
    vici.request("terminate", t, options_.stopTimeout + options_.commandTimeout);
    ViciSection conn;
    conn.set("name", name);
    vici.request("unload-conn", conn, options_.commandTimeout);
    ViciSection key;
    key.set("id", name);
    vici.request("unload-shared", key, options_.commandTimeout);
}

std::shared_ptr<helper::ppp::IpsecTransport> makeL2tpIpsecTransport(const std::shared_ptr<IkeService>& service) {
    std::weak_ptr<IkeService> weak = service;
    return std::make_shared<ViciIpsecTransport>(
        [weak](ViciClient::EventHandler handler, std::string* error) -> std::shared_ptr<ViciClient> {
            auto ike = weak.lock();
            if (!ike) {
                if (error) *error = "the IKE service has ended";
                return nullptr;
            }
            return ike->connectToCharon(std::move(handler), error);
        },
        L2tpIpsecOptions{}, [weak] {
            if (auto ike = weak.lock()) ike->charonReleased();
        });
}

}  // namespace hw::ike
