#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hub/service_layer.h"
#include "services/locations_list_model.h"
#include "support/capture_log.h"
#include "support/fake_hub_factory.h"

namespace hw::test {

// A hub on fakes. Tests set factory options first, then call make().
class HubTest : public ::testing::Test {
protected:
    ~HubTest() override {
        hub.reset();
        log::setSink(nullptr);
    }

    ServiceLayer& make() {
        hub = std::make_unique<ServiceLayer>(factory);
        ServiceLayerShell shell;
        shell.appDelegate = &delegate;
        shell.compareIfVersionIsLowerThanWithAnotherVersion = [this](const std::string& current,
                                                                     const std::string& other) {
            comparisons.push_back(current + "<" + other);
            return current < other;
        };
        hub->setShell(std::move(shell));
        return *hub;
    }
    ApplicationModel& model() { return hub->appModel(); }
    void runQueue() { factory->queue.runUntilIdle(); }

    static std::shared_ptr<LocationsListModel> list(const std::vector<std::string>& ids) {
        std::vector<LocationsListItemPtr> rows;
        for (const auto& id : ids) rows.push_back(std::make_shared<LocationsListItemModel>(id, "Location " + id));
        return std::make_shared<LocationsListModel>(std::move(rows));
    }

    std::shared_ptr<CaptureLog> log = CaptureLog::install();
    std::shared_ptr<FakeHubFactory> factory = std::make_shared<FakeHubFactory>();
    FakeApplicationDelegate delegate;
    std::vector<std::string> comparisons;
    std::unique_ptr<ServiceLayer> hub;
};

}  // namespace hw::test
