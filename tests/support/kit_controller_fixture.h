#pragma once
// A state object on fakes and the context the kit's controllers are built on.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "support/fake_http_client.h"
#include "support/fake_image_codec.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/manual_queue.h"
#include "support/recording_url_opener.h"
#include "view/base_controller_context.h"

namespace hw::test {

struct KitControllerFixture {
    KitControllerFixture() { store.registerDefaults(SettingsUserDefaults::defaults()); }

    FakeSettingsStore store;
    ManualQueue queue;
    ManualQueue background;
    FakeImageCodec codec;
    FakeHttpClient http{queue};
    FakeSystemInfo system;
    ApplicationModel model{ApplicationModelEnvironment{store, queue, background, codec, http, system}};
    RecordingURLOpener urlOpener;
    std::vector<std::pair<std::string, std::optional<AnalyticsParameters>>> events;
    BaseControllerContext context{
        model, [this](const std::string& name, const std::optional<AnalyticsParameters>& p) { events.emplace_back(name, p); },
        urlOpener};
};

}  // namespace hw::test
