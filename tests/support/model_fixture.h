#pragma once
// The services fixture with a real state object on fakes.
#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "services/locations_list_operations.h"
#include "support/services_fixture.h"
#include "support/fake_image_codec.h"
#include "support/fake_system_info.h"

namespace hw::test {

class ModelFixture : public ServicesFixture {
protected:
    ModelFixture() {
        settings.registerDefaults(SettingsUserDefaults::defaults());
        model = std::make_unique<ApplicationModel>(
            ApplicationModelEnvironment{settings, queue, background, codec, backend, system});
        ApplicationModelPorts ports;
        ports.locations = &locations;
        model->setPorts(ports);
    }
    void runAll() {
        while (queue.runUntilIdle() + background.runUntilIdle() > 0) {
        }
    }

    ManualQueue background;
    FakeImageCodec codec;
    FakeSystemInfo system;
    ServicesLocationsListOperations locations;
    std::unique_ptr<ApplicationModel> model;
};

}  // namespace hw::test
