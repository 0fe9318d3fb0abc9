#pragma once
// The login and sign-up windows, widget and controller, on the real services
// against the testbed backend; settings in a real file.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <memory>

#include "controllers/auth_window_view_controller.h"
#include "controllers/auth_window_widget.h"
#include "controllers/free_trial_sign_up_window_controller.h"
#include "controllers/free_trial_sign_up_window_widget.h"
#include "core/settings_user_defaults.h"
#include "platform/json_settings_store.h"
#include "hub/default_service_layer_factory.h"
#include "platform/backend/parse_client.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "recording_shell_commands.h"
#include "services/auth_service.h"
#include "services/links_manager.h"
#include "support/fake_image_codec.h"
#include "support/fake_secret_store.h"
#include "support/fake_system_info.h"
#include "support/recording_url_opener.h"
#include "support/temp_dir.h"
#include "support/widget_test_app.h"
#include "testbed/testbed_env.h"
#include "view/qt_alert_view.h"
#include "view/user_defaults_controller.h"

namespace hw::test {

inline bool waitFor(const std::function<bool()>& done, int boundMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < boundMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

inline std::string freshEmail(const char* tag) {
    return std::string(tag) + "-" + std::to_string(QDateTime::currentMSecsSinceEpoch()) + "@havenway.test";
}

class SignUpTestbed : public ::testing::Test, public WidgetAppFirst {
protected:
    void SetUp() override {
        env = TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
        env->exportToEnvironment();
        settings.registerDefaults(SettingsUserDefaults::defaults());
        // One install per test, so the testbed's per-install limits never meet.
        system.serial = "SIGNUP-" + std::to_string(QDateTime::currentMSecsSinceEpoch());
        http = std::make_unique<QtHttpClient>(queue);
        ParseClientConfig c;
        c.applicationId = env->get("HAVENWAY_TESTBED_APP_ID");
        c.clientKey = env->get("HAVENWAY_TESTBED_CLIENT_KEY");
        c.serverURL = env->parseUrl();
        c.secretService = "com.havenway.sign-up-itest";
        c.datastorePath = dir.file("datastore.sqlite");
        c.requestTimeoutMs = 15000;
        parse = std::make_unique<ParseClient>(c, *http, queue, secrets, settings);
        parse->enableRevocableSession();
        parse->enableLocalDatastore();
        factory = std::make_shared<DefaultServiceLayerFactory>(ServiceLayerPlatform{
            queue, background, settings, secrets, *http, *parse, system, codec, nullptr, nullptr, nullptr});
        hub = std::make_unique<ServiceLayer>(factory);
        hub->prepareApplication();
        hub->initUUIDChecking();
        hub->appModel().authorizeForFreeTrialLink = env->webUrl() + "/api/freeTrial/authorizeForFreeTrial_v2.php";
        context = std::make_unique<BaseControllerContext>(BaseControllerContext{hub->appModel(), nullptr, opener});
        login = std::make_unique<AuthWindowViewController>(
            *context, loginWidget, loginWidget,
            AuthWindowDependencies{*hub->authService(), *hub->linksManager(), queue, shell, nullptr, &defaults,
                                   hub->freeTrialService().get()},
            false);
        signUp = std::make_unique<FreeTrialSignUpWindowController>(
            *context, signUpWidget, signUpWidget,
            FreeTrialSignUpDependencies{*hub->freeTrialService(), *hub->authService(), *hub->linksManager(), queue,
                                        shell, &defaults, nullptr});
    }
    void TearDown() override {
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = false;
        signUp.reset();
        login.reset();
        hub.reset();
        factory.reset();
        parse.reset();
        http.reset();
        waitFor([] { return false; }, 30);
    }
    QLineEdit* field(QWidget* part) { return static_cast<QLineEdit*>(part); }
    void typeInto(QWidget* part, const std::string& text) {
        field(part)->clear();
        QTest::keyClicks(field(part), QString::fromStdString(text));
    }
    void fillSignUpWindow(const std::string& email, const std::string& password) {
        signUp->showWindow();
        typeInto(signUpWidget.part(SignUpPart::emailAddressField), email);
        typeInto(signUpWidget.part(SignUpPart::passwordField), password);
        static_cast<QAbstractButton*>(signUpWidget.part(SignUpPart::agreeToOurTermsCheckbox))->setChecked(true);
        QTest::mouseClick(signUpWidget.part(SignUpPart::startFreeButton), Qt::LeftButton);
    }
    void openLoginInSignUpMode() {
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = true;
        login->showWindow();
        ASSERT_TRUE(waitFor([this] { return login->isInSignUpState(); }));
    }
    QMessageBox* alertBox() { return static_cast<QtAlertView&>(signUpWidget.alerts()).current(); }
    void clickLoginButton() { QTest::mouseClick(loginWidget.part(AuthPart::loginButton), Qt::LeftButton); }

    struct Inline final : BackgroundQueue {
        void async(Task task) override { task(); }
    } background;
    std::optional<TestbedEnv> env;
    TempDir dir;
    QtMainQueue queue;
    std::unique_ptr<QtHttpClient> http;
    FakeSecretStore secrets;
    JsonSettingsStore settings{dir.file("settings.json")};
    UserDefaultsController defaults{settings};
    FakeSystemInfo system;
    FakeImageCodec codec;
    std::unique_ptr<ParseClient> parse;
    std::shared_ptr<DefaultServiceLayerFactory> factory;
    std::unique_ptr<ServiceLayer> hub;
    RecordingURLOpener opener;
    RecordingShellCommands shell;
    std::unique_ptr<BaseControllerContext> context;
    AuthWindowWidget loginWidget;
    FreeTrialSignUpWindowWidget signUpWidget;
    std::unique_ptr<AuthWindowViewController> login;
    std::unique_ptr<FreeTrialSignUpWindowController> signUp;
};

}  // namespace hw::test
