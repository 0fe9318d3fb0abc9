#pragma once
// The login window, widget and controller, on the real services against the
// testbed backend.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <memory>

#include "services/analytics_service.h"
#include "services/enterprise_auth_service.h"
#include "support/widget_test_app.h"
#include "windows/login/auth_shell_commands.h"
#include "windows/login/auth_window_view_controller.h"
#include "windows/login/widgets/auth_window_widget.h"
#include "windows/main/main_window_testbed.h"

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

    // A device serial of its own, where the testbed counts per install.
    virtual std::string serial() const { return {}; }

    void SetUp() override {
        env = TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
        env->exportToEnvironment();
        prepareDisplay();
        if (IsSkipped()) return;
        widgetTestApp();
        settings.registerDefaults(SettingsUserDefaults::defaults());
        rig.emplace(*env, &settings, nullptr, serial());
        hub = rig->hub.get();
        parse = rig->parse.get();
        queueHolder = &rig->queue;
        shell.hub = hub;
        if (isEnterprise()) {
            const std::string identity = env->webUrl();
            enterpriseAuth = std::make_unique<EnterpriseAuthService>(*rig->http, identity + "/oauth/token",
                                                                     identity + "/userinfo");
        }
        makeWindow();
    }
    void TearDown() override {
        if (!rig) return;
        controller.reset();
        widget.reset();
        enterpriseAuth.reset();
        spinFor(30);
        rig.reset();
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
        rig->http->send(request, [&](HttpResponse r) { answer = std::move(r); });
        spinUntil([&] { return answer.has_value(); });
        return answer ? answer->body : std::string();
    }

    std::optional<TestbedEnv> env;
    TempDir dir;
    FakeSettingsStore settings;
    std::optional<MainWindowTestbed> rig;
    // The rig's, under the names the windows' tests use.
    ServiceLayer* hub = nullptr;
    ParseClient* parse = nullptr;
    QtMainQueue* queueHolder = nullptr;
    std::unique_ptr<EnterpriseAuthService> enterpriseAuth;
    RecordingURLOpener opener;
    DataLoadingShell shell;
    std::unique_ptr<BaseControllerContext> context;
    std::unique_ptr<AuthWindowWidget> widget;
    std::unique_ptr<AuthWindowViewController> controller;
};

}  // namespace hw::test
