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

    template <class W>
    std::function<std::unique_ptr<W>()> maker(W*& slot, const char* name) {
        return [this, &slot, name] {
            auto w = std::make_unique<W>(name, journal);
            slot = w.get();
            return w;
        };
    }
    AppDelegate& make() {
        hub = std::make_unique<ServiceLayer>(factory);
        ShellWindows windows;
        windows.auth = maker(authWindow, "auth")();
        windows.main = maker(mainWindow, "main")();
        windows.locations = std::make_unique<RecordingWindow>("locations", journal);
        windows.makeWelcome = maker(welcomeWindow, "welcome");
        windows.makeSettings = maker(settingsWindow, "settings");
        windows.makeSignUp = maker(signUpWindow, "signUp");
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
        e.updateRefused = updateRefused;
        e.statusItem = &statusItemView;
        e.random = [this](int bound) {
            randomBounds.push_back(bound);
            return randomValue;
        };
        e.clock = &factory->queue;
        e.loadFlag = [](const ParseFilePtr&, std::function<void(ImagePtr)>) {};
        delegate = std::make_unique<AppDelegate>(std::move(e));
        return *delegate;
    }
    AppDelegate& launch() {
        make().applicationDidFinishLaunching();
        factory->queue.runUntilIdle();
        return *delegate;
    }
    // A new delegate on a new hub, for the next row of a table.
    void restart() {
        delegate.reset();
        hub.reset();
        journal.clear();
        exitCodes.clear();
        alerts.pending.clear();
        alerts.informativeTexts.clear();
        services.terminationDone = nullptr;
        notifications.removeAllCount = 0;
        factory = std::make_shared<FakeHubFactory>();
    }
    ApplicationModel& model() { return hub->appModel(); }
    bool journaled(const std::string& entry) const { return count(entry) > 0; }
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
    RecordingStatusItem statusItemView;
    std::unique_ptr<AppDelegate> delegate;
    RecordingAuthWindow* authWindow = nullptr;
    RecordingMainWindow* mainWindow = nullptr;
    RecordingWindow* welcomeWindow = nullptr;
    RecordingSettingsWindow* settingsWindow = nullptr;
    RecordingWindow* signUpWindow = nullptr;
    std::vector<int> exitCodes;
    std::vector<std::string> arguments{"/usr/bin/havenway", "-utm_source", "ads"};
    bool statusItem = false, handlesURLs = false, enterprise = false, hideOnLaunch = false, updateRefused = false;
    std::string reportPath;
    SleepWatch* sleepWatch = nullptr;
    int randomValue = 0;
    std::vector<int> randomBounds;
};

}  // namespace hw::test
