#pragma once
// Defines the locations list types that core/ only declares. Include it only
// in tests that do not link the backend services, which define the real ones.
#include <memory>
#include <string>
#include <vector>

#include "core/application_model_ports.h"

namespace hw {

class LocationsListItemModel {
public:
    explicit LocationsListItemModel(std::string id) : objectId(std::move(id)) {}
    std::string objectId;
};

class LocationsListModel {
public:
    std::vector<std::shared_ptr<LocationsListItemModel>> rows;
    int rebuilds = 0;
};

namespace test {

class FakeLocationsListOperations final : public LocationsListOperations {
public:
    void rebuildLists(LocationsListModel& model) override { ++model.rebuilds; }
    std::shared_ptr<LocationsListItemModel> itemWithObjectId(const LocationsListModel& model,
                                                             const std::string& objectId) override {
        for (const auto& row : model.rows) {
            if (row->objectId == objectId) return row;
        }
        return nullptr;
    }
    std::shared_ptr<LocationsListItemModel> firstRowWithOutGroups(const LocationsListModel& model) override {
        return model.rows.empty() ? nullptr : model.rows.front();
    }
    std::string objectId(const LocationsListItemModel& item) override { return item.objectId; }

    static std::shared_ptr<LocationsListModel> list(std::vector<std::string> ids) {
        auto model = std::make_shared<LocationsListModel>();
        for (auto& id : ids) model->rows.push_back(std::make_shared<LocationsListItemModel>(std::move(id)));
        return model;
    }
};

}  // namespace test
}  // namespace hw
