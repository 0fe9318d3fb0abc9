#include "services/locations_list_item_model.h"

namespace hw {

namespace {
std::string lowerASCII(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}
}  // namespace

LocationsListItemModel::LocationsListItemModel(std::string id, std::string displayName, bool group)
    : objectId(std::move(id)), name(std::move(displayName)), isGroupItem(group), searchKey_(lowerASCII(name)) {}

void LocationsListItemModel::refreshSearchKey() { searchKey_ = lowerASCII(name); }

void LocationsListItemModel::setMainViewFlag(ParseFilePtr file) {
    main_view_flag = std::move(file);
    if (main_view_flag && onMainViewFlagLoadedCallback) onMainViewFlagLoadedCallback();
}

void LocationsListItemModel::toggleFavoriteFlag() {
    isFavorite = !isFavorite;
    if (onFavoriteFlagChanged_) onFavoriteFlagChanged_();
}

std::shared_ptr<LocationsListItemModel> LocationsListItemModel::clone() const {
    auto copy = std::make_shared<LocationsListItemModel>(*this);
    // A copy is not a row of the list, so its star must not save the list.
    copy->onFavoriteFlagChanged_ = nullptr;
    copy->favoritesOwner_ = nullptr;
    return copy;
}

}  // namespace hw
