// The login window, widget and controller, on the real services against the
// testbed backend: the whole road from typing to the loaded data.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <memory>

#include "controllers/auth_window_view_controller.h"
#include "controllers/auth_window_widget.h"
#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "platform/backend/parse_client.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "recording_shell_commands.h"
#include "services/analytics_service.h"
#include "services/auth_service.h"
#include "services/links_manager.h"
#include "support/fake_image_codec.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/recording_url_opener.h"
#include "support/temp_dir.h"
#include "support/widget_test_app.h"
#include "testbed/testbed_env.h"

namespace hw::test {
namespace {

template <class Done>
bool spinUntil(Done done, int boundMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < boundMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// The shell's part of a sign-in: load the data, as the application does.
class DataLoadingShell final : public RecordingShellCommands {
public:
    ServiceLayer* hub = nullptr;
    int loaded = 0;
    std::optional<std::string> failed;
    void onLoginSuccess() override {
        RecordingShellCommands::onLoginSuccess();
        hub->loadRequiredData([this] { ++loaded; }, [this](const std::string& e) { failed = e; });
    }
};

class AuthWindowTestbed : public ::testing::Test, public WidgetAppFirst {
protected:
    void SetUp() override {
        env = TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
        env->exportToEnvironment();
        settings.registerDefaults(SettingsUserDefaults::defaults());
        http = std::make_unique<QtHttpClient>(queue);
        ParseClientConfig c;
        c.applicationId = env->get("HAVENWAY_TESTBED_APP_ID");
        c.clientKey = env->get("HAVENWAY_TESTBED_CLIENT_KEY");
        c.serverURL = env->parseUrl();
        c.secretService = "com.havenway.login-itest";
        c.datastorePath = dir.file("datastore.sqlite");
        c.requestTimeoutMs = 15000;
        parse = std::make_unique<ParseClient>(c, *http, queue, secrets, settings);
        parse->enableRevocableSession();
        parse->enableLocalDatastore();
        factory = std::make_shared<DefaultServiceLayerFactory>(ServiceLayerPlatform{
            queue, background, settings, secrets, *http, *parse, system, codec, nullptr, nullptr, nullptr});
        hub = std::make_unique<ServiceLayer>(factory);
        hub->prepareApplication();
        shell.hub = hub.get();
        makeWindow();
    }
    void TearDown() override {
        controller.reset();
        widget.reset();
        hub.reset();
        factory.reset();
        parse.reset();
        http.reset();
        spinUntil([] { return false; }, 30);
    }
    void makeWindow() {
        controller.reset();
        widget = std::make_unique<AuthWindowWidget>();
        context = std::make_unique<BaseControllerContext>(BaseControllerContext{
            hub->appModel(),
            [this](const std::string& n, const std::optional<AnalyticsParameters>& p) {
                hub->analyticsService()->sendEvent(n, p);
            },
            opener});
        controller = std::make_unique<AuthWindowViewController>(
            *context, *widget, *widget,
            AuthWindowDependencies{*hub->authService(), *hub->linksManager(), queue, shell}, false);
    }
    void open() {
        controller->pendingLoginData = hub->authService()->recentLoginData();
        controller->showWindow();
        spinUntil([] { return false; }, 50);
    }
    void logInMode() {
        controller->onLogInLinkButtonClick();
        spinUntil([this] { return !controller->isInSignUpState(); });
    }
    void signInByHand(const std::string& user, const std::string& password) {
        auto* userField = static_cast<QLineEdit*>(widget->part(AuthPart::loginField));
        auto* passwordField = static_cast<QLineEdit*>(widget->part(AuthPart::passwordField));
        userField->clear();
        passwordField->clear();
        QTest::keyClicks(userField, QString::fromStdString(user));
        QTest::keyClicks(passwordField, QString::fromStdString(password));
        QTest::mouseClick(widget->part(AuthPart::loginButton), Qt::LeftButton);
    }
    // Waits for the request to end and its notice or success to show.
    bool settled() {
        return spinUntil([this] { return !controller->loginButtonDisabled() || shell.count("onLoginSuccess") > 0; });
    }
    std::string analyticsList() {
        std::optional<HttpResponse> answer;
        HttpRequest request;
        request.url = env->webUrl() + "/testbed/analytics";
        http->send(request, [&](HttpResponse r) { answer = std::move(r); });
        spinUntil([&] { return answer.has_value(); });
        return answer ? answer->body : std::string();
    }

    struct Inline final : BackgroundQueue {
        void async(Task task) override { task(); }
    } background;
    std::optional<TestbedEnv> env;
    TempDir dir;
    QtMainQueue queue;
    std::unique_ptr<QtHttpClient> http;
    FakeSecretStore secrets;
    FakeSettingsStore settings;
    FakeSystemInfo system;
    FakeImageCodec codec;
    std::unique_ptr<ParseClient> parse;
    std::shared_ptr<DefaultServiceLayerFactory> factory;
    std::unique_ptr<ServiceLayer> hub;
    RecordingURLOpener opener;
    DataLoadingShell shell;
    std::unique_ptr<BaseControllerContext> context;
    std::unique_ptr<AuthWindowWidget> widget;
    std::unique_ptr<AuthWindowViewController> controller;
};

TEST_F(AuthWindowTestbed, DemoAccountSignsInAndTheDataLoads) {
    open();
    logInMode();
    signInByHand(env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"));
    ASSERT_TRUE(spinUntil([this] { return shell.loaded > 0 || shell.failed; })) << "no sign-in or data";
    EXPECT_FALSE(shell.failed) << *shell.failed;
    EXPECT_TRUE(controller->loginButtonDisabled()) << "busy until the shell leaves for the main window";
    ASSERT_TRUE(hub->appModel().locationsListModel());
}

TEST_F(AuthWindowTestbed, WrongPasswordShowsItsNoticeAndReportsFailed) {
    open();
    logInMode();
    signInByHand(env->get("HAVENWAY_TESTBED_USER"), "not-the-password");
    ASSERT_TRUE(settled());
    EXPECT_EQ(widget->text(AuthPart::errorUpperText), "Incorrect Password or Email.");
    ASSERT_TRUE(spinUntil([this] { return analyticsList().find("failed") != std::string::npos; }, 10000))
        << "the testbed never heard of the failure";
    EXPECT_NE(analyticsList().find("ae_user_login"), std::string::npos);
}

TEST_F(AuthWindowTestbed, SixthAttemptForOneNameIsRefusedAsTooMany) {
    open();
    logInMode();
    const std::string name = "fresh-" + std::to_string(QDateTime::currentMSecsSinceEpoch()) + "@havenway.test";
    for (int attempt = 1; attempt <= 6; ++attempt) {
        SCOPED_TRACE(attempt);
        signInByHand(name, "wrong");
        ASSERT_TRUE(settled());
        if (attempt < 6) {
            EXPECT_EQ(widget->text(AuthPart::errorUpperText), "Incorrect Password or Email.");
        }
    }
    EXPECT_EQ(widget->text(AuthPart::errorUpperText), "Login error");
    EXPECT_EQ(widget->text(AuthPart::errorLowerText), "Too many requests in this time frame.");
}

TEST_F(AuthWindowTestbed, RememberedCredentialsSignInOnceByThemselves) {
    // A first sign-in by hand stores the credentials.
    open();
    logInMode();
    signInByHand(env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"));
    ASSERT_TRUE(spinUntil([this] { return shell.loaded > 0 || shell.failed; }));

    // The next start: a new window, the credentials from the secret store.
    shell.calls.clear();
    shell.loaded = 0;
    makeWindow();
    ASSERT_TRUE(hub->authService()->restoreLoginDataFromKeychain());
    hub->appModel().signMeInWhenHavenwayStarts = true;
    open();
    ASSERT_TRUE(spinUntil([this] { return shell.loaded > 0 || shell.failed; })) << "no automatic sign-in";
    EXPECT_EQ(shell.count("onLoginSuccess"), 1);

    controller->close();
    controller->onDataLoadFailed();  // back to idle, as after a sign-out
    open();
    spinUntil([] { return false; }, 500);
    EXPECT_EQ(shell.count("onLoginSuccess"), 1) << "once per start";
}

}  // namespace
}  // namespace hw::test
