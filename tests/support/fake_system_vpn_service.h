#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "connection/system_vpn_service.h"

namespace hw::test {

// An in-memory system VPN service store. Every step of the creation road can
// be made to fail; connections are driven by the test (emit).
class FakeSystemVPNServiceStore final : public SystemVPNServiceStore {
public:
    struct Service {
        std::string id;
        std::string name;
        SystemVPNInterfaceType type = SystemVPNInterfaceType::PPTP;
        ServiceConfigDictionary interfaceConfig;
        std::map<std::string, ServiceConfigDictionary> extended;
        ServiceConfigDictionary ipv4;
        bool inSet = false;
        bool unreadableProtocols = false;
    };

    class Connection final : public SystemVPNConnection {
    public:
        std::int32_t status() override {
            std::lock_guard lock(mutex);
            return currentStatus;
        }
        SystemVPNExtendedStatus extendedStatus() override {
            std::lock_guard lock(mutex);
            return extended;
        }
        bool start(SystemVPNError* error) override {
            std::lock_guard lock(mutex);
            ++starts;
            // The helper records the cause when the start fails, not before.
            if (failStart && causeOnFailedStart) extended.lastCause = *causeOnFailedStart;
            if (failStart && error) *error = {5, "start refused"};
            return !failStart;
        }
        bool stop(bool force, SystemVPNError* error) override {
            std::lock_guard lock(mutex);
            stops.push_back(force);
            if (failStop && error) *error = {6, "stop refused"};
            return !failStop;
        }
        void setStatusCallback(StatusCallback cb) override {
            std::lock_guard lock(mutex);
            callback = std::move(cb);
        }
        // Plays a status change as the system would report it.
        void emit(std::int32_t status) {
            std::lock_guard lock(mutex);
            currentStatus = status;
            if (callback) callback(status);
        }
        bool hasCallback() {
            std::lock_guard lock(mutex);
            return static_cast<bool>(callback);
        }

        std::recursive_mutex mutex;
        std::int32_t currentStatus = 0;
        SystemVPNExtendedStatus extended;
        bool failStart = false;
        std::optional<std::int64_t> causeOnFailedStart;
        bool failStop = false;
        int starts = 0;
        std::vector<bool> stops;
        StatusCallback callback;
    };

    // The step whose call fails, by name: "open", "lock", "create",
    // "interface", "extended", "default", "set", "add", "ipv4protocol",
    // "ipv4", "commit", "apply".
    std::set<std::string> failing;
    bool addReportsExisting = false;

    std::unique_ptr<SystemVPNPreferences> openPreferences() override;
    std::unique_ptr<SystemVPNConnection> connectionForService(const std::string& serviceID) override;

    // A committed service, created directly.
    Service& addService(const std::string& name, SystemVPNInterfaceType type);
    const Service* committed(const std::string& name) const;
    std::size_t serviceCount() const {
        std::lock_guard lock(mutex_);
        return services_.size();
    }
    // The shared connection object of a service (what every handle drives).
    std::shared_ptr<Connection> connection(const std::string& serviceID);
    int locks = 0;
    int commits = 0;

private:
    friend class FakeSystemVPNPreferences;
    mutable std::mutex mutex_;
    std::vector<Service> services_;  // in the system's order
    std::map<std::string, std::shared_ptr<Connection>> connections_;
    int nextID_ = 1;
};

}  // namespace hw::test
