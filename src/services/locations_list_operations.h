#pragma once
#include "core/application_model_ports.h"
#include "services/locations_list_model.h"

namespace hw {

// The state object's view of the locations list.
class ServicesLocationsListOperations final : public LocationsListOperations {
public:
    void rebuildLists(LocationsListModel& model) override { model.rebuildLists(); }
    std::shared_ptr<LocationsListItemModel> itemWithObjectId(const LocationsListModel& model,
                                                             const std::string& objectId) override {
        return model.itemWithObjectId(objectId);
    }
    std::shared_ptr<LocationsListItemModel> firstRowWithOutGroups(const LocationsListModel& model) override {
        const auto& rows = model.listWithOutGroups();
        return rows.empty() ? nullptr : rows.front();
    }
    std::string objectId(const LocationsListItemModel& item) override { return item.objectId; }
};

}  // namespace hw
