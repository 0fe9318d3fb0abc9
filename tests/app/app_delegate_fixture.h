#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/shell_doubles.h"
#include "support/capture_log.h"
#include "support/fake_hub_factory.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw::test {

// The delegate on a hub of fakes, recording windows, services and dialogs.
class AppDelegateTest : public ::testing::Test {
protected:
    AppDelegateTest() : env("HAVENWAY_LOGS_DIR", (dir.path() + "/logs").c_str()) {}
    ~AppDelegateTest() override {
        delegate.reset();
        hub.reset();
        log::setSink(nullptr);
    }

    AppDelegate& make() {
        hub = std::make_unique<ServiceLayer>(factory);
        auto auth = std::make_unique<RecordingAuthWindow>("auth", journal);
        auto main = std::make_unique<RecordingMainWindow>("main", journal);
        auto locations = std::make_unique<RecordingWindow>("locations", journal);
        authWindow = auth.get();
        mainWindow = main.get();
        locationsWindow = locations.get();
        ShellWindows windows;
        windows.auth = std::move(auth);
        windows.main = std::move(main);
        windows.locations = std::move(locations);
        windows.makeWelcome = [this] {
            auto w = std::make_unique<RecordingWindow>("welcome", journal);
            welcomeWindow = w.get();
            return w;
        };
        windows.makeSettings = [this] {
            auto w = std::make_unique<RecordingSettingsWindow>("settings", journal);
            settingsWindow = w.get();
            return w;
        };
        windows.makeSignUp = [this] {
            auto w = std::make_unique<RecordingWindow>("signUp", journal);
            signUpWindow = w.get();
            return w;
        };
        AppDelegateEnvironment e{*hub, factory->store, factory->queue, services, std::move(windows), alerts,
                                 notifications};
        e.openURL = [this](const std::string& url) {
            journal.push_back("openURL:" + url);
            return true;
        };
        e.exitProcess = [this](int code) { exitCodes.push_back(code); };
        e.statusItemShown = [this] { return statusItem; };
        e.arguments = arguments;
        e.handlesURLs = handlesURLs;
        e.isEnterpriseVersion = enterprise;
        e.exceptionReportPath = reportPath;
        e.sleepWatch = sleepWatch;
        e.hideOnLaunch = hideOnLaunch;
        // --- Tray, menus and data loading ---
        e.statusItem = &statusItemView;
        e.random = [this](int bound) {
            randomBounds.push_back(bound);
            return randomValue;
        };
        e.clock = &factory->queue;
        e.loadFlag = [](const ParseFilePtr&, std::function<void(ImagePtr)>) {};
        // --- end of the tray's block ---
        delegate = std::make_unique<AppDelegate>(std::move(e));
        return *delegate;
    }
    AppDelegate& launch() {
        make().applicationDidFinishLaunching();
        factory->queue.runUntilIdle();
        return *delegate;
    }
    ApplicationModel& model() { return hub->appModel(); }
    bool journaled(const std::string& entry) const {
        return std::find(journal.begin(), journal.end(), entry) != journal.end();
    }
    std::size_t count(const std::string& entry) const {
        return static_cast<std::size_t>(std::count(journal.begin(), journal.end(), entry));
    }
    // Index of the first entry, or the journal's size.
    std::size_t at(const std::string& entry) const {
        return static_cast<std::size_t>(std::find(journal.begin(), journal.end(), entry) - journal.begin());
    }

    TempDir dir;
    ScopedEnv env;
    std::shared_ptr<CaptureLog> log = CaptureLog::install();
    std::shared_ptr<FakeHubFactory> factory = std::make_shared<FakeHubFactory>();
    std::unique_ptr<ServiceLayer> hub;
    Journal journal;
    FakeShellServices services{journal};
    RecordingAlerts alerts{journal};
    FakeUserNotificationCenter notifications;
    std::unique_ptr<AppDelegate> delegate;
    RecordingAuthWindow* authWindow = nullptr;
    RecordingMainWindow* mainWindow = nullptr;
    RecordingWindow* locationsWindow = nullptr;
    RecordingWindow* welcomeWindow = nullptr;
    RecordingSettingsWindow* settingsWindow = nullptr;
    RecordingWindow* signUpWindow = nullptr;
    std::vector<int> exitCodes;
    std::vector<std::string> arguments{"/usr/bin/havenway", "-utm_source", "ads"};
    bool statusItem = false;
    bool handlesURLs = false;
    bool enterprise = false;
    bool hideOnLaunch = false;
    std::string reportPath;
    SleepWatch* sleepWatch = nullptr;
    // --- Tray, menus and data loading ---
    RecordingStatusItem statusItemView;
    int randomValue = 0;
    std::vector<int> randomBounds;
    // --- end of the tray's block ---
};

}  // namespace hw::test
