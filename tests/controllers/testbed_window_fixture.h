#pragma once
// The login window, widget and controller, on the real services against the
// testbed backend.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <memory>

#include "controllers/auth_window_view_controller.h"
#include "controllers/auth_window_widget.h"
#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "platform/backend/parse_client.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "auth_shell_commands.h"
#include "services/analytics_service.h"
#include "services/auth_service.h"
#include "services/enterprise_auth_service.h"
#include "services/links_manager.h"
#include "support/fake_image_codec.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/inline_background_queue.h"
#include "support/qt_test_app.h"
#include "support/recording_url_opener.h"
#include "support/temp_dir.h"
#include "support/testbed_parse_config.h"
#include "support/widget_test_app.h"
#include "testbed/testbed_env.h"

namespace hw::test {

// The shell's part of a sign-in: load the data, as the application does.
class DataLoadingShell final : public AuthShellCommands {
public:
    ServiceLayer* hub = nullptr;
    int loaded = 0;
    std::optional<std::string> failed;
    void onLoginSuccess() override {
        AuthShellCommands::onLoginSuccess();
        hub->loadRequiredData([this] { ++loaded; }, [this](const std::string& e) { failed = e; });
    }
};

class TestbedWindowFixture : public ::testing::Test {
protected:
    // Runs before the application exists: where it draws.
    virtual void prepareDisplay() {}
    virtual bool isEnterprise() const { return false; }
    virtual EnterprisePageMaker pageMaker() { return nullptr; }

    void SetUp() override {
        env = TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
        env->exportToEnvironment();
        prepareDisplay();
        if (IsSkipped()) return;
        widgetTestApp();
        queueHolder = std::make_unique<QtMainQueue>();
        settings.registerDefaults(SettingsUserDefaults::defaults());
        http = std::make_unique<QtHttpClient>(*queueHolder);
        const ParseClientConfig c =
            testbedParseConfig(*env, "com.havenway.login-itest", dir.file("datastore.sqlite"));
        parse = std::make_unique<ParseClient>(c, *http, *queueHolder, secrets, settings);
        parse->enableRevocableSession();
        parse->enableLocalDatastore();
        factory = std::make_shared<DefaultServiceLayerFactory>(ServiceLayerPlatform{
            *queueHolder, background, settings, secrets, *http, *parse, system, codec, nullptr, nullptr, nullptr});
        hub = std::make_unique<ServiceLayer>(factory);
        hub->prepareApplication();
        shell.hub = hub.get();
        if (isEnterprise()) {
            const std::string identity = env->webUrl();
            enterpriseAuth = std::make_unique<EnterpriseAuthService>(*http, identity + "/oauth/token",
                                                                     identity + "/userinfo");
        }
        makeWindow();
    }
    void TearDown() override {
        if (!queueHolder) return;
        controller.reset();
        widget.reset();
        enterpriseAuth.reset();
        hub.reset();
        factory.reset();
        parse.reset();
        http.reset();
        spinFor(30);
        queueHolder.reset();
    }
    void makeWindow() {
        controller.reset();
        widget = std::make_unique<AuthWindowWidget>(nullptr, pageMaker());
        context = std::make_unique<BaseControllerContext>(BaseControllerContext{
            hub->appModel(),
            [this](const std::string& n, const std::optional<AnalyticsParameters>& p) {
                hub->analyticsService()->sendEvent(n, p);
            },
            opener});
        controller = std::make_unique<AuthWindowViewController>(
            *context, *widget, *widget,
            AuthWindowDependencies{*hub->authService(), *hub->linksManager(), *queueHolder, shell, enterpriseAuth.get()},
            isEnterprise());
    }
    void open() {
        controller->pendingLoginData = hub->authService()->recentLoginData();
        controller->showWindow();
        spinFor(50);
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

    InlineBackgroundQueue background;
    std::optional<TestbedEnv> env;
    TempDir dir;
    std::unique_ptr<QtMainQueue> queueHolder;
    std::unique_ptr<QtHttpClient> http;
    FakeSecretStore secrets;
    FakeSettingsStore settings;
    FakeSystemInfo system;
    FakeImageCodec codec;
    std::unique_ptr<ParseClient> parse;
    std::shared_ptr<DefaultServiceLayerFactory> factory;
    std::unique_ptr<ServiceLayer> hub;
    std::unique_ptr<EnterpriseAuthService> enterpriseAuth;
    RecordingURLOpener opener;
    DataLoadingShell shell;
    std::unique_ptr<BaseControllerContext> context;
    std::unique_ptr<AuthWindowWidget> widget;
    std::unique_ptr<AuthWindowViewController> controller;
};

}  // namespace hw::test
