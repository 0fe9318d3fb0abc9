#include "connection/system_vpn_service_helper.h"

#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <type_traits>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/helper_socket.h"
#include "services/helper_tool/helper_tool_xpc_connector.h"
#include "platform/log.h"

namespace hw {

namespace {

constexpr char kLog[] = "vpn-service";

bool said(const std::optional<HelperMessage>& reply, const char* word) {
    if (!reply) return false;
    const std::string* r = helperString(*reply, "reply");
    return r && *r == word;
}

class HelperPreferences final : public SystemVPNPreferences {
public:
    explicit HelperPreferences(const HelperCall& call) : call_(call) {}

    bool refuse() {
        error_ = {1, "services are created by the helper"};
        return false;
    }

    bool lock() override { return true; }
    void unlock() override {}
    std::optional<SystemVPNServiceInfo> findService(const std::string& name) override {
        auto reply = call_("getVPNService", {{"connectionName", name}});
        if (!said(reply, "YES")) return std::nullopt;
        const std::string* id = helperString(*reply, "serviceID");
        if (!id) return std::nullopt;
        names_[*id] = name;
        return SystemVPNServiceInfo{*id, name, helperBool(*reply, "hasIPSec")};
    }
    // Only the helper creates services ("connectToVPN").
    std::optional<std::string> createService(SystemVPNInterfaceType) override { refuse();
        return std::nullopt;
    }
    bool setServiceName(const std::string&, const std::string&) override { return refuse(); }
    bool setInterfaceConfiguration(const std::string&, const ServiceConfigDictionary&) override { return refuse(); }
    bool setExtendedConfiguration(const std::string&, const std::string&, const ServiceConfigDictionary&) override {
        return refuse();
    }
    bool establishDefaultConfiguration(const std::string&) override { return refuse(); }
    bool hasCurrentSet() override { return true; }
    AddResult addServiceToCurrentSet(const std::string&) override { return AddResult::AlreadyPresent; }
    bool hasIPv4Protocol(const std::string&) override { return true; }
    bool setIPv4Configuration(const std::string&, const ServiceConfigDictionary&) override { return refuse(); }
    bool removeService(const std::string& id) override {
        auto it = names_.find(id);
        if (it == names_.end()) return false;
        removals_.push_back(it->second);
        return true;
    }
    bool commit() override {
        bool ok = true;
        for (const auto& name : removals_) {
            if (!said(call_("deleteExistingVPNService", {{"connectionName", name}}), "YES")) {
                error_ = {1, "the helper did not remove the service"};
                ok = false;
            }
        }
        removals_.clear();
        return ok;
    }
    bool apply() override { return true; }
    SystemVPNError lastError() override { return error_; }

private:
    const HelperCall& call_;
    std::map<std::string, std::string> names_;
    std::vector<std::string> removals_;
    SystemVPNError error_;
};

class HelperServiceConnection final : public SystemVPNConnection {
public:
    HelperServiceConnection(HelperCall call, std::string id, std::chrono::milliseconds interval)
        : call_(std::move(call)), id_(std::move(id)), interval_(interval) {}
    ~HelperServiceConnection() override { setStatusCallback({}); }

    std::int32_t status() override { return read().first; }
    SystemVPNExtendedStatus extendedStatus() override {
        // Asked from inside a report: the state that came with that change,
        // not whatever the link has moved on to since.
        if (std::this_thread::get_id() == reportingThread_) return reporting_;
        return read().second;
    }

    bool start(SystemVPNError* error) override {
        auto reply = call_("startVPNService", {{"serviceID", id_}});
        if (said(reply, "YES")) return true;
        if (error) {
            const std::string* why = reply ? helperString(*reply, "error") : nullptr;
            *error = {reply ? 1 : 2, why ? *why : std::string("the helper did not answer")};
        }
        return false;
    }
    bool stop(bool force, SystemVPNError* error) override {
        if (said(call_("stopVPNService", {{"serviceID", id_}, {"force", force}}), "YES")) return true;
        if (error) *error = {1, "nothing to stop"};
        return false;
    }

    void setStatusCallback(StatusCallback callback) override {
        std::thread old;
        {
            std::lock_guard lock(mutex_);
            callback_ = std::move(callback);
            if (callback_ && watcher_.joinable()) return;
            if (!callback_) {
                quit_ = true;
                wake_.notify_all();
                // Wakes a reader blocked on the helper's channel.
                if (channel_) ::shutdown(channel_.get(), SHUT_RDWR);
                old = std::move(watcher_);
            }
        }
        if (old.joinable()) {
            if (old.get_id() == std::this_thread::get_id())
                old.detach();  // cannot happen through the connector; never join oneself
            else
                old.join();
        }
        std::lock_guard lock(mutex_);
        channel_.reset();
        if (!callback_ || watcher_.joinable()) return;
        quit_ = false;
        last_ = read().first;
        // The helper pushes changes on a channel; a helper without that
        // command is polled.
        auto [mine, theirs] = makeHelperSocketPair();
        if (mine && said(call_("watchVPNService", {{"serviceID", id_},
                                                   {"channel", HelperChannel(std::make_shared<UniqueFd>(
                                                                   std::move(theirs)))}}),
                         "YES")) {
            channel_ = std::move(mine);
            watcher_ = std::thread([this] { listen(); });
        } else {
            watcher_ = std::thread([this] { poll(); });
        }
    }

private:
    std::pair<std::int32_t, SystemVPNExtendedStatus> read() {
        auto reply = call_("getVPNServiceStatus", {{"serviceID", id_}});
        SystemVPNExtendedStatus ext;
        if (!said(reply, "YES")) return {-1, ext};
        ext.pppStatus = helperInt(*reply, "pppStatus");
        ext.lastCause = helperInt(*reply, "lastCause");
        auto status = helperInt(*reply, "status").value_or(-1);
        return {static_cast<std::int32_t>(status), ext};
    }

    // With the lock held, so that clearing the callback waits for a report
    // in flight and none comes after.
    void deliverLocked(std::int32_t status, std::optional<SystemVPNExtendedStatus> extended = std::nullopt) {
        if (quit_ || status == last_) return;
        last_ = status;
        if (!callback_) return;
        if (extended) {
            reporting_ = *extended;
            reportingThread_ = std::this_thread::get_id();
        }
        callback_(status);
        reportingThread_ = std::thread::id();
    }

    void listen() {
        int fd;
        {
            std::lock_guard lock(mutex_);
            fd = channel_.get();
        }
        for (;;) {
            std::string error;
            auto event = receiveHelperMessage(fd, -1, &error);
            std::lock_guard lock(mutex_);
            if (quit_) return;
            if (!event) {
                // The helper went away: what it last knew is all there is.
                log::warning(kLog, "the helper's status channel closed: " + error);
                deliverLocked(-1);
                return;
            }
            auto status = helperInt(event->message, "status");
            if (!status) continue;
            SystemVPNExtendedStatus extended;
            extended.pppStatus = helperInt(event->message, "pppStatus");
            extended.lastCause = helperInt(event->message, "lastCause");
            deliverLocked(static_cast<std::int32_t>(*status), extended);
        }
    }

    void poll() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            wake_.wait_for(lock, interval_, [this] { return quit_; });
            if (quit_) break;
            lock.unlock();
            auto status = read().first;
            lock.lock();
            deliverLocked(status);
        }
    }

    HelperCall call_;
    std::string id_;
    std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable wake_;
    StatusCallback callback_;
    UniqueFd channel_;
    std::thread watcher_;
    SystemVPNExtendedStatus reporting_;
    std::atomic<std::thread::id> reportingThread_{};
    bool quit_ = false;
    std::int32_t last_ = -1;
};

}  // namespace

std::unique_ptr<SystemVPNPreferences> HelperSystemVPNServiceStore::openPreferences() {
    return std::make_unique<HelperPreferences>(call_);
}

std::unique_ptr<SystemVPNConnection> HelperSystemVPNServiceStore::connectionForService(const std::string& id) {
    return std::make_unique<HelperServiceConnection>(call_, id, pollInterval_);
}

HelperCall makeHelperSocketCall(std::string socketPath, std::chrono::milliseconds timeout) {
    return [socketPath = std::move(socketPath), timeout](const std::string& rpc,
                                                         HelperDictionary parameters) -> std::optional<HelperMessage> {
        std::string error;
        // The same road as the main connection: the peer proves itself first.
        UniqueFd fd = connectToHelper(socketPath, &error);
        if (!fd) {
            log::warning(kLog, "'" + rpc + "' not sent: " + error);
            return std::nullopt;
        }
        auto [mine, theirs] = makeHelperSocketPair();
        if (!mine) return std::nullopt;
        HelperMessage message{{"type", "helper_tool_rpc"}, {"rpc", rpc}};
        if (!parameters.empty()) message["parameters"] = HelperValue(std::move(parameters));
        int ms = static_cast<int>(timeout.count());
        if (!sendHelperMessage(fd.get(), message, theirs.get(), ms, &error)) {
            log::warning(kLog, "'" + rpc + "' not sent: " + error);
            return std::nullopt;
        }
        theirs.reset();
        auto envelope = receiveHelperMessage(mine.get(), ms, &error);
        if (!envelope) {
            log::warning(kLog, "'" + rpc + "' got no answer: " + error);
            return std::nullopt;
        }
        return std::move(envelope->message);
    };
}

std::shared_ptr<SystemVPNServiceStore> defaultSystemVPNServiceStore() {
    return std::make_shared<HelperSystemVPNServiceStore>(
        makeHelperSocketCall(HelperTool_XPC_Connector::socketPath(), std::chrono::seconds(5)));
}

}  // namespace hw
