#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend/parse_file.h"
#include "services/vpn_parse_config.h"

namespace hw {

// One row of the locations list: a location or a group header. Rows are
// shared; equality is identity.
class LocationsListItemModel {
public:
    LocationsListItemModel(std::string objectId, std::string name, bool isGroupItem = false);

    std::string objectId;
    std::string name;
    bool isGroupItem = false;
    bool isAutomaticLocationItem = false;
    bool isFavorite = false;
    bool isRecommended = false;
    std::string countryCode;
    std::vector<std::string> recommendedRegions;
    double sortOrder = 0;
    ParseFilePtr flag;
    ParseFilePtr main_view_flag;
    std::optional<double> flag_px;
    std::optional<double> flag_py;
    std::shared_ptr<VPNParseConfig> vpnConfig;
    std::function<void()> onMainViewFlagLoadedCallback;

    const std::string& locationName() const { return name; }
    // Sets the map flag and tells whoever waits for it.
    void setMainViewFlag(ParseFilePtr file);

    // Flips the flag and has the owning list save its favourites.
    void toggleFavoriteFlag();
    // A new row with the same contents (the configuration is shared).
    std::shared_ptr<LocationsListItemModel> clone() const;

    // The name in lower case (ASCII), kept for search.
    const std::string& searchKey() const { return searchKey_; }
    void refreshSearchKey();

private:
    friend class LocationsListModel;
    std::function<void()> onFavoriteFlagChanged_;
    const void* favoritesOwner_ = nullptr;
    std::string searchKey_;
};

using LocationsListItemPtr = std::shared_ptr<LocationsListItemModel>;

}  // namespace hw
