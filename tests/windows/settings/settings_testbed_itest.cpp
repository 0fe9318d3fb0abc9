// The settings window on the real hub against the testbed: the settings file,
// a scan of the NetworkManager stand-in, the update check and the web links.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <fstream>
#include <sstream>

#include "platform/json_settings_store.h"
#include "platform/qt/nm_wifi.h"
#include "platform/thread_pool.h"
#include "settings_window_fixture.h"
#include "support/fake_network_manager.h"
#include "support/private_dbus.h"
#include "support/widget_test_app.h"
#include "texts/locale_data.h"
#include "view/qt_alert_view.h"
#include "windows/main/main_window_testbed.h"
#include "windows/settings/widgets/settings_entire_page_widget.h"
#include "windows/settings/widgets/settings_window_widget.h"

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;

// Whether the first version is lower: its three numbers compared in order
// (1.0.5 is not lower than 0.9.9).
bool lowerVersion(const std::string& installed, const std::string& announced) {
    int a[3] = {}, b[3] = {};
    if (std::sscanf(announced.c_str(), "%d.%d.%d", &b[0], &b[1], &b[2]) != 3) return false;
    std::sscanf(installed.c_str(), "%d.%d.%d", &a[0], &a[1], &a[2]);
    return std::lexicographical_compare(a, a + 3, b, b + 3);
}

class SettingsTestbed : public ::testing::Test, private WidgetAppFirst {
public:
    void SetUp() override {
        env = TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
        env->exportToEnvironment();
        std::string why;
        if (!bus.start(&why)) GTEST_SKIP() << why;
        ASSERT_TRUE(nm.serve(QString::fromStdString(bus.address())));
        wifi = std::make_unique<NetworkManagerWiFi>(QString::fromStdString(bus.address()));

        store = std::make_unique<JsonSettingsStore>(settingsPath());
        store->registerDefaults(SettingsUserDefaults::defaults());
        defaults = std::make_unique<UserDefaultsController>(*store);
        defaults->setAppliesImmediately(false);
        rig.emplace(*env, store.get(), wifi.get());
        rig->hub->setShell(ServiceLayerShell{nullptr, lowerVersion, nullptr, nullptr});

        widget = std::make_unique<SettingsWindowWidget>(*defaults, SettingsLayout::List);
        context = std::make_unique<BaseControllerContext>(BaseControllerContext{rig->hub->appModel(), nullptr, opener});
        controller = std::make_unique<SettingsWindowViewController>(
            *context, *widget, *widget, settingsDependenciesFromHub(*rig->hub, *defaults, shell, rig->queue, scans),
            widget->entirePage());
        widget->setController(controller.get());
        shell.closeSettings = [this] { controller->close(); };
    }
    void TearDown() override {
        if (widget) widget->setController(nullptr);
        controller.reset();
        widget.reset();
        rig.reset();
        spinUntil([] { return false; }, 30);
    }

    std::string settingsPath() const { return dir.file("config/havenway/settings.json"); }
    std::string settingsFile() const {
        std::ifstream in(settingsPath());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool signInAndLoad() {
        return test::signInAndLoad(*rig->hub, env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"))
            .empty();
    }
    // Sets the announced version with the master key and has the hub read the configuration again.
    bool announceVersion(const std::string& version) {
        HttpRequest put;
        put.method = "PUT";
        put.url = env->parseUrl() + "/config";
        put.headers = {{"X-Parse-Application-Id", env->get("HAVENWAY_TESTBED_APP_ID")},
                       {"X-Parse-Master-Key", env->get("HAVENWAY_TESTBED_MASTER_KEY")},
                       {"Content-Type", "application/json"}};
        put.body = R"({"params":{"latestVersion_OSX":")" + version + R"("}})";
        std::optional<int> status;
        rig->http->send(put, [&](const HttpResponse& r) { status = r.status; });
        if (!spinUntil([&] { return status.has_value(); }) || *status != 200) return false;
        bool read = false;
        rig->hub->loadParseConfig(true, [&] { read = true; }, [&](const std::optional<std::string>&) { read = true; });
        return spinUntil([&] { return read; }) && rig->hub->appModel().newAppVersionString == version;
    }
    int fetch(const std::string& url) {
        HttpRequest get;
        get.url = url;
        std::optional<int> status;
        rig->http->send(get, [&](const HttpResponse& r) { status = r.status; });
        spinUntil([&] { return status.has_value(); });
        return status.value_or(0);
    }
    void open() {
        controller->showWindow();
        spinUntil([] { return false; }, 20);
    }

    std::optional<TestbedEnv> env;
    TempDir dir;
    PrivateDBus bus;
    FakeNetworkManager nm;
    std::unique_ptr<NetworkManagerWiFi> wifi;
    ThreadPool scans;
    std::unique_ptr<JsonSettingsStore> store;
    std::unique_ptr<UserDefaultsController> defaults;
    std::optional<MainWindowTestbed> rig;
    RecordingURLOpener opener;
    SettingsShellDouble shell;
    std::unique_ptr<BaseControllerContext> context;
    std::unique_ptr<SettingsWindowWidget> widget;
    std::unique_ptr<SettingsWindowViewController> controller;
};

TEST_F(SettingsTestbed, ApplyWritesThePrivateSettingsFileAndTheModelFollows) {
    ASSERT_TRUE(signInAndLoad());
    open();
    auto& menu = widget->entirePage()->protocolMenu();
    menu.setCurrentIndex(2);
    emit menu.activated(2);
    QCheckBox* minimized = nullptr;
    for (auto* box : widget->entirePage()->findChildren<QCheckBox*>())
        if (box->text().toStdString() == LocaleData::settings_window_general_options_start_minimized_label()) minimized = box;
    ASSERT_NE(minimized, nullptr);
    minimized->click();
    ASSERT_TRUE(widget->applyButton().isEnabled());
    widget->applyButton().click();

    struct stat st {};
    ASSERT_EQ(::stat(settingsPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string file = settingsFile();
    EXPECT_NE(file.find("\" L2TP over IPSec\""), std::string::npos) << file;
    EXPECT_EQ(rig->hub->appModel().vpnProtocol, VPNTypesL2TP);
    EXPECT_EQ(store->boolForKey(Keys::startMinimized), true);
}

TEST_F(SettingsTestbed, ANetworkOfTheScanIsTrustedAndStored) {
    nm.addAccessPoint(FakeNetworkManager::kRoot + "/AccessPoint/1", "Cafe Corner", "aa:bb:cc:00:00:10", 0, 0, 0);
    nm.addAccessPoint(FakeNetworkManager::kRoot + "/AccessPoint/2", "Library", "aa:bb:cc:00:00:11", 1, 0, 0x188);
    open();
    controller->onAuto_WiFi_Plus_Button_Click();
    auto& available = dynamic_cast<QListWidget&>(widget->availableNetworksTable());
    ASSERT_TRUE(spinUntil([&] { return available.count() == 2; })) << "the scan never filled the sheet";
    EXPECT_GE(nm.scans, 1);
    available.setCurrentRow(1);
    controller->onAddNetworkButton_Click();
    EXPECT_FALSE(widget->addNetworkSheet().isVisible());
    widget->applyButton().click();

    const std::vector<TrustedNetworkItem> trusted = {{"Library", "AA:BB:CC:00:00:11"}};
    EXPECT_EQ(rig->hub->appModel().trustedNetworks, trusted);
    const auto data = store->dataForKey(Keys::trustedNetworks);
    ASSERT_TRUE(data);
    EXPECT_EQ(unarchiveTrustedNetworks(*data), trusted);
}

TEST_F(SettingsTestbed, CheckForUpdatesFollowsTheAnnouncedVersion) {
    struct Restore {
        SettingsTestbed* self;
        ~Restore() { self->announceVersion("1.0.0"); }
    } restore{this};
    ASSERT_TRUE(announceVersion("1.0.0"));
    open();
    controller->onCheckForUpdatesButtonClick();
    QMessageBox* box = static_cast<QtAlertView&>(widget->alerts()).current();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), "You are up to date!");
    box->accept();
    spinUntil([] { return false; }, 20);
    EXPECT_EQ(shell.count("startAutoUpdater"), 0);

    ASSERT_TRUE(announceVersion("9.0.0"));
    ASSERT_TRUE(rig->hub->appModel().useAutoUpdater);
    controller->onCheckForUpdatesButtonClick();
    EXPECT_EQ(shell.count("startAutoUpdater"), 1);
    EXPECT_TRUE(widget->autoUpdateOverlay().isVisible());
}

TEST_F(SettingsTestbed, TheSupportLinksReachTheTestbedPages) {
    ASSERT_TRUE(signInAndLoad());
    open();
    controller->entirePageSettingsController()->onOpenSupportTicket_click();
    controller->onKnowledgeBase_click();
    controller->onRunSpeedTest_click();
    ASSERT_EQ(opener.opened.size(), 3u);
    for (const auto& url : opener.opened) {
        EXPECT_EQ(url.rfind(env->webUrl() + "/", 0), 0u) << url;
        EXPECT_EQ(fetch(url), 200) << url;
    }
    EXPECT_NE(opener.opened[0].find("token="), std::string::npos);
}

}  // namespace
}  // namespace hw::test
