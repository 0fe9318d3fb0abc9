// The login window's account creation on the shared sign-up road.
#include "auth_window_fixture.h"
#include "services/free_trial_sign_up_service.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

using Reply = test::FakeBackend::Reply;
constexpr char kAuthorized[] = R"({"result":"success","authorization_token":"t"})";

class AuthWindowSignUp : public test::AuthWindowFixture {
protected:
    AuthWindowSignUp() {
        secrets.writeString("svc", "appID", "UUID-1");
        model->authorizeForFreeTrialLink = "https://web.test/api/authorize";
        authorizeWith(kAuthorized);
        backend.functions["signupForFreeTrial"] = [this](const JSON&) {
            ++signUps;
            return cloud;
        };
    }
    void authorizeWith(std::string body) {
        backend.web = [this, body](const HttpRequest&) {
            ++authorizes;
            return test::FakeHttpClient::ok(body);
        };
    }
    void openInSignUp() {
        make(false, &service);
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = true;
        open();
        ASSERT_TRUE(controller->isInSignUpState());
    }
    void signUp(const std::string& email = "new@example.com", const std::string& password = "secret1") {
        type(email, password);
        click();
        queue.runUntilIdle();
    }
    std::pair<std::string, std::string> bar() { return {view[AuthPart::errorUpperText].text, errorDetail()}; }

    UUIDHelper uuid{secrets, system, "svc"};
    FreeTrialSignUpService service{*client, http, uuid, queue};
    Reply cloud = Reply::ok(JSON::parse(R"({"result":"success","message":"ok"})"));
    int authorizes = 0;
    int signUps = 0;
};

TEST_F(AuthWindowSignUp, FailuresShowFixedTextsByOriginAndCode) {
    const std::pair<std::string, std::string> exists{"Account Already Exists.", "Please try logging in again."};
    const std::pair<std::string, std::string> tooMany{
        "Too Many Registration Attempts.",
        LocaleData::free_trial_sign_up_error_too_many_attempts_notification_description()};
    const std::pair<std::string, std::string> authorizeGeneric{"Free Trial Authorization Error.",
                                                               "Please try signing up again."};
    const std::pair<std::string, std::string> cloudGeneric{"Free Trial Sign Up Error.", "Please try again."};
    struct Row {
        const char* authorize;  // none: authorize succeeds
        const char* cloudError;
        std::pair<std::string, std::string> shown;
    };
    const Row rows[] = {
        {R"({"errorCode":10,"message":"m"})", nullptr, exists},
        {R"({"errorCode":11,"message":"m"})", nullptr, exists},
        {R"({"errorCode":12})", nullptr, tooMany},
        {R"({"errorCode":1,"message":"m"})", nullptr, authorizeGeneric},
        {"not json", nullptr, authorizeGeneric},
        {R"({"errorCode":"11"})", nullptr, authorizeGeneric},
        {nullptr, R"({"errorCode":1,"message":"m"})", exists},
        {nullptr, R"({"errorCode":10,"message":"m"})", tooMany},
        {nullptr, R"({"errorCode":11,"message":"m"})", cloudGeneric},
        {nullptr, R"({"errorCode":12,"message":"m"})", cloudGeneric},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.authorize ? row.authorize : row.cloudError);
        authorizeWith(kAuthorized);
        cloud = Reply::error(141, "down");
        openInSignUp();
        signUp("first@example.com");  // uses up the window's one silent resend
        authorizeWith(row.authorize ? row.authorize : kAuthorized);
        cloud = row.cloudError ? Reply::error(141, row.cloudError)
                               : Reply::ok(JSON::parse(R"({"result":"success","message":"ok"})"));
        signUp();
        EXPECT_EQ(bar(), row.shown);
        EXPECT_FALSE(controller->loginButtonDisabled()) << "the form comes back";
        EXPECT_FALSE(controller->isInSignUpCompletedState());
    }
}

TEST_F(AuthWindowSignUp, TwoQuickClicksOrEntersStartOneSignUp) {
    openInSignUp();
    type("new@example.com", "secret1");
    click();
    click();
    enter();
    queue.runUntilIdle();
    EXPECT_EQ(authorizes, 1);
    EXPECT_EQ(signUps, 1);
}

TEST_F(AuthWindowSignUp, EnterInTheSignUpStatePassesTheSameBusyCheck) {
    remember("user@example.com", "secret");
    model->signMeInWhenHavenwayStarts = false;
    make(false, &service);
    open();
    backend.hold = true;
    click();  // a sign-in runs
    controller->onSignUpFreeLinkButtonClick();
    queue.runUntilIdle();
    ASSERT_TRUE(controller->isInSignUpState());
    enter();
    backend.release();
    queue.runUntilIdle();
    EXPECT_EQ(authorizes, 0) << "no sign-up while a request runs";
    EXPECT_EQ(signIns, 1);
}

TEST_F(AuthWindowSignUp, SuccessShowsGetStartedWhichSignsTheNewAccountIn) {
    openInSignUp();
    signUp(" new@example.com ", " secret1\t");
    EXPECT_TRUE(controller->isInSignUpCompletedState());
    EXPECT_EQ(view[AuthPart::loginButton].text, "GET STARTED");
    EXPECT_EQ(events.back().second->at("ap_signup_result"), "success");
    EXPECT_EQ(auth.recentLoginData()->password, "secret1");
    EXPECT_TRUE(backend.requestsTo("/functions/authenticateUser").empty()) << "nothing signs in by itself";

    click();
    queue.runUntilIdle();
    ASSERT_FALSE(backend.requestsTo("/functions/authenticateUser").empty());
}

}  // namespace
}  // namespace hw
