#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/vpn_service_config.h"

namespace hw {

// The system's store of named VPN services and their connections. On Linux
// the helper keeps it (service files, pppd, xl2tpd); the application reaches
// it through an adapter, and tests through a fake.

enum class SystemVPNInterfaceType { L2TP, PPTP };

struct SystemVPNServiceInfo {
    std::string serviceID;
    std::string name;
    // Absent when the service's protocol list cannot be read.
    std::optional<bool> hasIPSecProtocol;
};

// A failure of the last call, as "%s (Code %i)" reports it.
struct SystemVPNError {
    int code = 0;
    std::string text;
};

// PPP's view of a connection: pppd's phase (8 = running) and the exit code
// of the last pppd ("LastCause").
struct SystemVPNExtendedStatus {
    std::optional<std::int64_t> pppStatus;
    std::optional<std::int64_t> lastCause;
    std::string text;  // for diagnostics only
};

// One service's connection. Status numbers are VPNStatusCodes: -1 invalid,
// 0 disconnected, 1 connecting, 2 connected, 3 disconnecting.
class SystemVPNConnection {
public:
    using StatusCallback = std::function<void(std::int32_t status)>;
    virtual ~SystemVPNConnection() = default;

    virtual std::int32_t status() = 0;
    virtual SystemVPNExtendedStatus extendedStatus() = 0;
    // Starts the service and leaves it running after this handle goes.
    virtual bool start(SystemVPNError* error) = 0;
    virtual bool stop(bool force, SystemVPNError* error) = 0;
    // Status changes from then on, on any thread but one at a time and in
    // order; an empty callback stops them. Once this returns with an empty
    // callback no further call is made.
    virtual void setStatusCallback(StatusCallback callback) = 0;
};

// A locked view of the store for creating and removing services; changes
// take effect at commit and apply.
class SystemVPNPreferences {
public:
    virtual ~SystemVPNPreferences() = default;
    virtual bool lock() = 0;
    virtual void unlock() = 0;
    virtual std::optional<SystemVPNServiceInfo> findService(const std::string& name) = 0;
    // A new service of the interface type; answers its ID.
    virtual std::optional<std::string> createService(SystemVPNInterfaceType type) = 0;
    virtual bool setServiceName(const std::string& serviceID, const std::string& name) = 0;
    virtual bool setInterfaceConfiguration(const std::string& serviceID, const ServiceConfigDictionary& config) = 0;
    virtual bool setExtendedConfiguration(const std::string& serviceID, const std::string& extendedType,
                                          const ServiceConfigDictionary& config) = 0;
    virtual bool establishDefaultConfiguration(const std::string& serviceID) = 0;
    virtual bool hasCurrentSet() = 0;
    enum class AddResult { Added, AlreadyPresent, Failed };
    virtual AddResult addServiceToCurrentSet(const std::string& serviceID) = 0;
    virtual bool hasIPv4Protocol(const std::string& serviceID) = 0;
    virtual bool setIPv4Configuration(const std::string& serviceID, const ServiceConfigDictionary& config) = 0;
    virtual bool removeService(const std::string& serviceID) = 0;
    virtual bool commit() = 0;
    virtual bool apply() = 0;
    virtual SystemVPNError lastError() = 0;
};

class SystemVPNServiceStore {
public:
    virtual ~SystemVPNServiceStore() = default;
    // None when the store cannot be opened.
    virtual std::unique_ptr<SystemVPNPreferences> openPreferences() = 0;
    // None when no connection can be made for the service.
    virtual std::unique_ptr<SystemVPNConnection> connectionForService(const std::string& serviceID) = 0;
};

}  // namespace hw
