#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend/parse_client.h"
#include "platform/main_queue.h"
#include "services/locations_list_model.h"

namespace hw {

// Loads the locations list: the "VPNConfig" objects from the backend (pinned
// for the next start) or from the local datastore, with the user's
// favourites. Favourites are kept per user in the local datastore, so a
// change survives a restart; the backend's favourites seed a device that has
// none yet. Main thread only; with a rows queue, the rows of a list are made
// there and taken back on the main queue.
class VPNConfigsService {
public:
    using Completion = std::function<void(std::shared_ptr<LocationsListModel>, OptionalParseError)>;

    static constexpr char kConfigClass[] = "VPNConfig";
    static constexpr char kFavoriteClass[] = "FavoriteVPNConfig";
    static constexpr char kConfigsPin[] = "vpnConfigs";

    explicit VPNConfigsService(ParseClient& parse, BackgroundQueue* rowsQueue = nullptr, MainQueue* mainQueue = nullptr);
    ~VPNConfigsService();
    VPNConfigsService(const VPNConfigsService&) = delete;
    VPNConfigsService& operator=(const VPNConfigsService&) = delete;

    // The hub's answer to an expired session (error 209): it signs in again and
    // then runs the retry. Without it such a load fails like any other.
    std::function<void(std::function<void()> retry)> onParseSessionExpired;

    // The completion runs exactly once with a whole list, or with nothing and
    // the error; an empty cache falls back to the backend.
    void loadLocationsList(bool useCache, Completion completion);

    // Rows from "VPNConfig" objects, ordered by "sortOrder"; objects without a
    // usable configuration are left out.
    static std::vector<LocationsListItemPtr> rowsFrom(const std::vector<ParseObject>& objects);

private:
    void loadFromNetwork(Completion completion, int sessionRetries);
    // The list pinned by the last network load; whenEmpty runs when it holds none.
    void loadFromCache(Completion completion, std::function<void()> whenEmpty);
    // The rows are made once, on the rows queue when there is one: thousands of
    // locations make it the load's dearest step.
    using RowsMaker = std::function<std::vector<LocationsListItemPtr>(const std::vector<ParseObject>&)>;
    void withRows(std::vector<ParseObject> configs, RowsMaker make,
                  std::function<void(std::vector<ParseObject>, std::vector<LocationsListItemPtr>)> then);
    void finish(std::vector<ParseObject> configs, std::vector<LocationsListItemPtr> rows, bool fromNetwork,
                Completion completion);
    void complete(std::vector<LocationsListItemPtr> rows, std::vector<std::string> favorites, Completion completion);
    std::string favoritesPin() const;
    void loadBackendFavorites(std::shared_ptr<std::vector<LocationsListItemPtr>> rows, Completion completion);
    void saveFavorites(const std::string& pin, const std::vector<std::string>& ids);

    ParseClient& parse_;
    BackgroundQueue* rowsQueue_;
    MainQueue* mainQueue_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
