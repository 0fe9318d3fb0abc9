#include "services/locations_list_model.h"

namespace hw {

LocationsListModel::LocationsListModel(std::vector<LocationsListItemPtr> items)
    : favoritesHeader_(std::make_shared<LocationsListItemModel>("", FAVORITES_LOCATION_LABEL, true)),
      recommendedHeader_(std::make_shared<LocationsListItemModel>("", ALL_RECOMMENDED_LOCATION_LABEL, true)),
      allHeader_(std::make_shared<LocationsListItemModel>("", ALL_LOCATIONS_LABEL, true)),
      owner_(std::make_shared<Owner>(Owner{this})) {
    items_.reserve(items.size());
    for (auto& item : items) {
        if (item && !item->isGroupItem) items_.push_back(std::move(item));
    }
    rebuildLists();
}

LocationsListModel::~LocationsListModel() {
    // Rows may outlive the list (the current location); their stars then
    // no longer reach it.
    owner_->model = nullptr;
}

void LocationsListModel::rebuildLists() {
    favorites_.clear();
    recommended_.clear();
    all_.clear();
    const void* token = owner_.get();
    for (const auto& item : items_) {
        if (item->favoritesOwner_ != token) {
            std::weak_ptr<Owner> weak = owner_;
            item->onFavoriteFlagChanged_ = [weak] {
                if (auto o = weak.lock(); o && o->model) o->model->favoritesChanged();
            };
            item->favoritesOwner_ = token;
        }
        if (!searchKey_.empty() && item->searchKey().find(searchKey_) == std::string::npos) continue;
        if (item->isFavorite) {
            favorites_.push_back(item);
        } else if (item->isRecommended) {
            recommended_.push_back(item);
        } else {
            all_.push_back(item);
        }
    }
    groupedDirty_ = true;
    flatDirty_ = true;
}

bool LocationsListModel::applySearchString(const std::string& text) {
    if (text == searchString_) return false;
    searchString_ = text;
    searchKey_ = LocationsListItemModel("", text).searchKey();
    rebuildLists();
    return true;
}

const std::vector<LocationsListItemPtr>& LocationsListModel::listWithGroups() const {
    if (groupedDirty_) {
        withGroups_.clear();
        withGroups_.reserve(favorites_.size() + recommended_.size() + all_.size() + 3);
        auto add = [this](const LocationsListItemPtr& header, const std::vector<LocationsListItemPtr>& group) {
            if (group.empty()) return;
            withGroups_.push_back(header);
            withGroups_.insert(withGroups_.end(), group.begin(), group.end());
        };
        add(favoritesHeader_, favorites_);
        add(recommendedHeader_, recommended_);
        add(allHeader_, all_);
        groupedDirty_ = false;
    }
    return withGroups_;
}

const std::vector<LocationsListItemPtr>& LocationsListModel::listWithOutGroups() const {
    if (flatDirty_) {
        withOutGroups_.clear();
        withOutGroups_.reserve(favorites_.size() + recommended_.size() + all_.size());
        withOutGroups_.insert(withOutGroups_.end(), favorites_.begin(), favorites_.end());
        withOutGroups_.insert(withOutGroups_.end(), recommended_.begin(), recommended_.end());
        withOutGroups_.insert(withOutGroups_.end(), all_.begin(), all_.end());
        flatDirty_ = false;
    }
    return withOutGroups_;
}

LocationsListItemPtr LocationsListModel::itemAt(std::size_t index) const {
    const auto& list = listWithGroups();
    return index < list.size() ? list[index] : nullptr;
}

bool LocationsListModel::isGroupItemAt(std::size_t index) const {
    auto item = itemAt(index);
    return item && item->isGroupItem;
}

std::optional<std::size_t> LocationsListModel::indexOfItem(const LocationsListItemModel* item) const {
    const auto& list = listWithGroups();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].get() == item) return i;
    }
    return std::nullopt;
}

LocationsListItemPtr LocationsListModel::itemWithObjectId(const std::string& objectId) const {
    for (const auto& item : items_) {
        if (item->objectId == objectId) return item;
    }
    return nullptr;
}

bool LocationsListModel::containsOnlyFavorites() const {
    return !favorites_.empty() && recommended_.empty() && all_.empty();
}

std::vector<std::string> LocationsListModel::favoriteIds() const {
    std::vector<std::string> ids;
    for (const auto& item : items_) {
        if (item->isFavorite) ids.push_back(item->objectId);
    }
    return ids;
}

void LocationsListModel::favoritesChanged() {
    if (onFavoritesChanged) onFavoritesChanged(favoriteIds());
    // By index: an observer may add another.
    for (std::size_t i = 0; i < favoritesObservers_.size(); ++i) {
        auto observer = favoritesObservers_[i];
        if (observer) observer();
    }
}

}  // namespace hw
