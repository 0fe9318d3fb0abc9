#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "support/capture_log.h"
#include "support/fake_application_model_ports.h"
#include "support/fake_http_client.h"
#include "support/fake_image_codec.h"
#include "support/fake_locations_list.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/manual_queue.h"

namespace hw::test {

// A state object on fakes: the store has the registered defaults, the
// background queue is a second manual queue so tests see what runs where.
class ApplicationModelTest : public ::testing::Test {
protected:
    ApplicationModelTest() {
        store.registerDefaults(SettingsUserDefaults::defaults());
        system.release = OSRelease{"Debian GNU/Linux", "12 (bookworm)", "12", "", "debian"};
        model = std::make_unique<ApplicationModel>(
            ApplicationModelEnvironment{store, queue, background, codec, http, system});
        shell.detailsPane = &detailsPane;
        model->setPorts({&manager, &reachability, &shell, &login, &locations});
    }

    ~ApplicationModelTest() override { log::setSink(nullptr); }

    bool logged(const std::string& text) const { return log->contains(text); }
    void runAll() {
        while (queue.runUntilIdle() + background.runUntilIdle() > 0) {
        }
    }

    // The dark map as the window asks for it; its decode must not hold the main queue.
    ImagePtr darkMap() {
        ImagePtr answer;
        bool answered = false;
        const int decodes = codec.decodes;
        model->decodeMainViewMapDarkImage([&](ImagePtr image) {
            answer = std::move(image);
            answered = true;
        });
        queue.runUntilIdle();
        EXPECT_EQ(codec.decodes, decodes) << "decoded on the main queue";
        runAll();
        EXPECT_TRUE(answered);
        return answer;
    }

    std::shared_ptr<CaptureLog> log = CaptureLog::install();
    FakeSettingsStore store;
    ManualQueue queue;
    ManualQueue background;
    FakeImageCodec codec;
    FakeHttpClient http{queue};
    FakeSystemInfo system;
    PortJournal journal;
    FakeConnectionManager manager{journal};
    FakeInternetReachability reachability{journal};
    FakeDetailsPane detailsPane{journal};
    FakeApplicationShell shell{journal};
    FakeLoginDataSource login;
    FakeLocationsListOperations locations;
    std::unique_ptr<ApplicationModel> model;
};

}  // namespace hw::test
