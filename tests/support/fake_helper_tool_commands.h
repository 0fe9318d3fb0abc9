#pragma once
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "connection/vpn_connection_manager_ports.h"
#include "platform/main_queue.h"

namespace hw::test {

// The manager's helper commands as a log of lines ("disableIPV6",
// "disableNetworkLock:10.0.0.1", ...). Replies come on the main queue.
class FakeHelperToolCommands final : public ConnectionManagerHelper {
public:
    explicit FakeHelperToolCommands(MainQueue& queue) : queue_(queue) {}

    bool isHeloperToolAlreadyInstalled(const std::string& stored, bool withVersionCheck) override {
        if (installedVersion == bundledVersion) return true;
        return withVersionCheck && !installedVersion.empty() && stored == bundledVersion;
    }
    bool isHelperToolPresent() override { return !installedVersion.empty(); }
    bool helperDied() const override { return died || backUnnoticed; }
    void installAction(InstallBlock completion) override {
        sent.push_back("install");
        queue_.post([this, completion] {
            if (installSucceeds) installedVersion = bundledVersion;
            completion(installSucceeds, installRefused, installSucceeds ? 0 : 7,
                       installSucceeds ? bundledVersion : std::string());
        });
    }
    void createVPNConnection(const HelperVPNServiceDescription& config,
                             std::function<void(bool created)> onCreated) override {
        sent.push_back("create:" + std::to_string(config.type));
        created.push_back(config);
        bool ok = createSucceeds;
        if (!createResults.empty()) {
            ok = createResults.front();
            createResults.pop_front();
        }
        queue_.postAfter(createDelayMs, [onCreated, ok] { onCreated(ok); });
    }
    void deleteExistingVPNService(const std::string& name) override { sent.push_back("deleteService:" + name); }
    void disableIPV6(StringBlock done) override {
        sent.push_back("disableIPV6");
        answer(ipv6Replies, done);
    }
    void reEnableIPV6() override { sent.push_back("reEnableIPV6"); }
    void enableNetworkLock(LockBlock completion) override {
        sent.push_back("enableNetworkLock");
        const bool engaged = lockEngages.value_or(enableNetworkLockReply != "NO");
        queue_.postAfter(lockReplyDelayMs, [completion, r = enableNetworkLockReply, engaged] { completion(r, engaged); });
    }
    void enableNetworkLock(const std::vector<std::string>& resolvers, LockBlock completion) override {
        lockResolvers = resolvers;
        enableNetworkLock(std::move(completion));
    }
    void resolveVPNServerHost(const std::string& host, const std::vector<std::string>& resolvers,
                              StringBlock done) override {
        std::string line = "resolveVPNServerHost:" + host;
        for (const auto& r : resolvers) line += ":" + r;
        sent.push_back(line);
        queue_.post([done, r = resolveReply] { done(r); });
    }
    void disableNetworkLock(const std::optional<std::string>& gateway) override {
        sent.push_back("disableNetworkLock:" + gateway.value_or("<none>"));
    }
    void disableNetworkLock(const std::optional<std::string>& gateway, StringBlock released) override {
        disableNetworkLock(gateway);
        queue_.post([released, r = releaseReply] { released(r); });
    }
    void retrieveDefaultGateway(StringBlock done) override {
        queue_.post([done, r = wayOutReply] { done(r); });
    }
    void networkLockState(std::function<void(std::optional<bool>)> done) override {
        sent.push_back("networkLockState");
        queue_.postAfter(lockStateDelayMs, [done, engaged = died ? std::nullopt : lockHeld] { done(engaged); });
    }
    void staticRouteAddingProcessing(const std::optional<std::string>& server, const std::optional<std::string>& gateway,
                                     StringBlock done) override {
        sent.push_back("staticRoute:" + server.value_or("<none>") + ":" + gateway.value_or("<none>"));
        queue_.post([done, r = staticRouteReply] { done(r); });
    }
    void addDefaultGatewayForOpenVPN(const std::optional<std::string>& gateway, StringBlock done) override {
        sent.push_back("addDefaultGatewayForOpenVPN:" + gateway.value_or("<none>"));
        std::string reply = defaultGatewayReply;
        if (!defaultGatewayReplies.empty()) {
            reply = defaultGatewayReplies.front();
            defaultGatewayReplies.pop_front();
        }
        deliver(done, reply);
    }
    void attachRunningOpenVPN(std::function<void(bool)> done) override {
        sent.push_back("attachRunningOpenVPN");
        queue_.post([done, attached = openVPNRunning] {
            if (done) done(attached);
        });
    }
    void terminatePreviousOpenVPNProcesses(std::function<void(bool)> done) override {
        sent.push_back("terminatePreviousOpenVPNProcesses");
        if (!terminateDelayMs) return;  // a helper that never answers
        queue_.postAfter(*terminateDelayMs, [done, ended = openVPNRunning] {
            if (done) done(ended);
        });
    }
    void install_DNS_for_VPN(bool forOpenVPN, const std::vector<std::string>& pushed, StringBlock done) override {
        sent.push_back(forOpenVPN ? "install_DNS_for_VPN:openvpn" : "install_DNS_for_VPN");
        dnsPushed.push_back(pushed);
        answer(dnsReplies, done);
    }
    void restore_DNS_to_original(bool forOpenVPN, bool skipFallback) override {
        sent.push_back(std::string("restoreDNS:") + (forOpenVPN ? "1" : "0") + (skipFallback ? "1" : "0"));
    }
    void closeHelperTool() override { sent.push_back("closeHelperTool"); }
    void setTeardownCarriedOut(std::function<void()> carriedOut) override { teardownCarriedOut = std::move(carriedOut); }

    int count(const std::string& line) const {
        int n = 0;
        for (const auto& s : sent) n += s == line;
        return n;
    }
    int countStarting(const std::string& prefix) const {
        int n = 0;
        for (const auto& s : sent) n += s.rfind(prefix, 0) == 0;
        return n;
    }
    std::vector<std::string> lockResolvers;  // what the last engagement let through

    std::string bundledVersion = "1.0";
    std::string installedVersion = "1.0";
    bool installSucceeds = true;
    bool installRefused = false;
    bool createSucceeds = true;
    std::deque<bool> createResults;  // taken first, one per creation
    double createDelayMs = 0;
    std::string enableNetworkLockReply = "192.168.1.1\n";
    std::optional<bool> lockEngages;  // none: engaged unless the reply is "NO"
    double lockReplyDelayMs = 0;      // before enableNetworkLock answers
    double lockStateDelayMs = 0;      // before networkLockState answers
    std::function<void()> teardownCarriedOut;
    std::optional<bool> lockHeld = false;  // what networkLockState answers; none: no helper
    bool died = false;                     // answered once, cannot be reached now
    bool backUnnoticed = false;            // answers again; no call has said so yet
    bool openVPNRunning = false;           // what attachRunningOpenVPN answers, and whether terminating ends one
    std::string staticRouteReply = "203.0.113.7";
    std::string resolveReply = "NO";
    std::string releaseReply = "YES";
    std::string wayOutReply = "NO";  // what retrieveDefaultGateway answers
    std::string defaultGatewayReply = "YES";
    std::deque<std::string> defaultGatewayReplies;  // taken first, one per command
    std::deque<std::string> ipv6Replies;  // taken first, one per command; then "YES"
    std::deque<std::string> dnsReplies;   // the same for the DNS install
    // A slow helper, or one answering twice (route, IPv6 and DNS commands).
    double replyDelayMs = 0;
    std::optional<double> terminateDelayMs = 0.0;  // how long openvpn takes to exit; none: no answer
    int repliesPerCommand = 1;
    std::vector<std::vector<std::string>> dnsPushed;  // the servers each install named
    std::vector<std::string> sent;
    std::vector<HelperVPNServiceDescription> created;

private:
    void answer(std::deque<std::string>& replies, const StringBlock& done) {
        std::string reply = "YES";
        if (!replies.empty()) {
            reply = replies.front();
            replies.pop_front();
        }
        deliver(done, reply);
    }
    void deliver(const StringBlock& done, const std::string& reply) {
        if (!done) return;
        for (int i = 0; i < repliesPerCommand; ++i) queue_.postAfter(replyDelayMs, [done, reply] { done(reply); });
    }

    MainQueue& queue_;
};

}  // namespace hw::test
