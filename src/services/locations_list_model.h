#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/locations_list_item_model.h"

namespace hw {

// The locations in three groups (favourites, most recommended, all others),
// filtered by the search text. A location sits in exactly one group. Used on
// the main thread only.
class LocationsListModel {
public:
    static constexpr char FAVORITES_LOCATION_LABEL[] = "Favorites";
    static constexpr char ALL_RECOMMENDED_LOCATION_LABEL[] = "Most Recommended";
    static constexpr char ALL_LOCATIONS_LABEL[] = "All Locations";

    explicit LocationsListModel(std::vector<LocationsListItemPtr> items);
    ~LocationsListModel();
    LocationsListModel(const LocationsListModel&) = delete;
    LocationsListModel& operator=(const LocationsListModel&) = delete;

    // Called with the ids of every favourite after a row's star changed.
    std::function<void(const std::vector<std::string>& favoriteIds)> onFavoritesChanged;
    // Also told of every star, after the above; observers stay for the list's life.
    void addFavoritesObserver(std::function<void()> observer) { favoritesObservers_.push_back(std::move(observer)); }

    // Every location, unfiltered, in list order.
    const std::vector<LocationsListItemPtr>& items() const { return items_; }

    void rebuildLists();
    // False, and nothing changes, when the text is the stored one.
    bool applySearchString(const std::string& text);
    const std::string& searchString() const { return searchString_; }

    // Headers and locations in display order; empty groups have no header.
    const std::vector<LocationsListItemPtr>& listWithGroups() const;
    // The locations alone, in display order.
    const std::vector<LocationsListItemPtr>& listWithOutGroups() const;
    const std::vector<LocationsListItemPtr>& favorites() const { return favorites_; }
    const std::vector<LocationsListItemPtr>& recommended() const { return recommended_; }
    const std::vector<LocationsListItemPtr>& allOthers() const { return all_; }

    // Out of range answers nothing / false rather than reading past the list.
    LocationsListItemPtr itemAt(std::size_t index) const;
    bool isGroupItemAt(std::size_t index) const;
    std::optional<std::size_t> indexOfItem(const LocationsListItemModel* item) const;
    // The first location of the full list with this id.
    LocationsListItemPtr itemWithObjectId(const std::string& objectId) const;
    bool containsOnlyFavorites() const;
    std::vector<std::string> favoriteIds() const;

private:
    struct Owner {
        LocationsListModel* model;
    };
    void favoritesChanged();

    std::vector<LocationsListItemPtr> items_;
    LocationsListItemPtr favoritesHeader_;
    LocationsListItemPtr recommendedHeader_;
    LocationsListItemPtr allHeader_;
    std::vector<LocationsListItemPtr> favorites_;
    std::vector<LocationsListItemPtr> recommended_;
    std::vector<LocationsListItemPtr> all_;
    std::string searchString_;
    std::string searchKey_;
    std::shared_ptr<Owner> owner_;
    std::vector<std::function<void()>> favoritesObservers_;
    mutable bool groupedDirty_ = true;
    mutable bool flatDirty_ = true;
    mutable std::vector<LocationsListItemPtr> withGroups_;
    mutable std::vector<LocationsListItemPtr> withOutGroups_;
};

}  // namespace hw
