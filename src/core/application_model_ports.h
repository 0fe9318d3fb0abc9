#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/connection_ticket.h"
#include "core/reconnect_reason.h"
#include "platform/settings_store.h"

// What the state object needs of the components above core/. The hub injects
// implementations; core/ never includes them. Each port is optional: a call
// to an absent one is skipped.
namespace hw {

// Rows and lists of locations belong to the backend services; core/ holds
// them only as opaque shared pointers and works on them through
// LocationsListOperations.
class LocationsListModel;
class LocationsListItemModel;
// The bottom bar's record belongs to the notification bars.
class BottomNotificationBarModel;

// The signed-in account's credentials.
struct LoginData {
    std::string username;
    std::string password;
    // A reference to the stored password, where the secret store gives one.
    std::optional<Bytes> passwordData;
};

// A mirror domain and the countries it serves.
struct DomainForCountryObject {
    std::vector<std::string> countries;
    std::string domain;
    bool operator==(const DomainForCountryObject&) const = default;
};

// The sign-in window's last frame.
struct WindowFrame {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const WindowFrame&) const = default;
};

// What the state object asks of a locations list and its rows.
class LocationsListOperations {
public:
    virtual ~LocationsListOperations() = default;
    virtual void rebuildLists(LocationsListModel& model) = 0;
    virtual std::shared_ptr<LocationsListItemModel> itemWithObjectId(const LocationsListModel& model,
                                                                     const std::string& objectId) = 0;
    // The first row of the flat list, nothing when it is empty.
    virtual std::shared_ptr<LocationsListItemModel> firstRowWithOutGroups(const LocationsListModel& model) = 0;
    virtual std::string objectId(const LocationsListItemModel& item) = 0;
};

// The connection engine as the state object sees it.
class ConnectionManagerPort {
public:
    virtual ~ConnectionManagerPort() = default;
    // Deletes the system VPN service, stops the provider's status updates.
    virtual void removeExistingConnection() = 0;
    virtual bool automaticModeDiscoveryInProgress() const = 0;
    // Nothing when no provider is current or its type is unset.
    virtual std::optional<std::int64_t> currentProviderType() const = 0;
    virtual void disableNetworkLock() = 0;
    virtual void liftNetworkLockLeftFromEarlierRun(std::function<void()> lifted) = 0;
};

// The internet reachability watch.
class InternetReachabilityPort {
public:
    virtual ~InternetReachabilityPort() = default;
    virtual void stopReachability() = 0;
    virtual void reach(const std::string& host) = 0;
};

// The details pane of the main window.
class DetailsPanePort {
public:
    virtual ~DetailsPanePort() = default;
    // The window's road to the connection's life: every road that wants the
    // tunnel back, or tells of the network, says why.
    virtual void requestReconnect(ReconnectReason reason) = 0;
    virtual void showAutoReconnectOverlay() = 0;
    // The attempt was ended on purpose and none began since.
    virtual bool connectionInitiateCanceled() const { return false; }
};

// The application shell (delegate) and its main window.
class ApplicationShellPort {
public:
    virtual ~ApplicationShellPort() = default;
    virtual bool skipIsAppInUserAgentModeDidSetProcessing() const = 0;
    virtual void stopSheduleNextSmartWidgetUpdateTimer() = 0;
    virtual void loadSmartWidgetData() = 0;
    // Tells the main window that mainViewMapImage changed.
    virtual void updateMainViewMapImage() = 0;
    // Nothing until the main window has loaded its details pane.
    virtual DetailsPanePort* mainViewDetailsController() = 0;
};

// The sign-in service.
class LoginDataSource {
public:
    virtual ~LoginDataSource() = default;
    virtual std::optional<LoginData> recentLoginData() const = 0;
};

// A backend file (the map images). Completions may arrive on any thread.
class BackendFile {
public:
    virtual ~BackendFile() = default;
    // Whether the data is already in the local cache.
    virtual bool isDataAvailable() const = 0;
    // Blocking read; call it off the main thread.
    virtual std::optional<Bytes> getData() = 0;
    // Nothing on an error.
    virtual void getDataInBackground(std::function<void(std::optional<Bytes>)> completion) = 0;
};

// Everything the hub injects. Non-owning: the hub keeps each alive for as
// long as the state object lives.
struct ApplicationModelPorts {
    ConnectionManagerPort* connectionManager = nullptr;
    InternetReachabilityPort* internetReachability = nullptr;
    ApplicationShellPort* shell = nullptr;
    LoginDataSource* loginData = nullptr;
    LocationsListOperations* locations = nullptr;
};

}  // namespace hw
