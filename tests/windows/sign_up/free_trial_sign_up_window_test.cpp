// The sign-up window's controller on the real sign-up and sign-in services
// over the fake backend, in virtual time.
#include "windows/sign_up/free_trial_sign_up_window_controller.h"

#include <map>

#include "services/auth_service.h"
#include "services/free_trial_sign_up_service.h"
#include "services/links_manager.h"
#include "support/model_fixture.h"
#include "support/recording_url_opener.h"
#include "support/recording_window_view.h"
#include "texts/locale_data.h"
#include "view/user_defaults_controller.h"
#include "windows/login/auth_shell_commands.h"

namespace hw {
namespace {

using Reply = test::FakeBackend::Reply;

class RecordingSignUpView final : public FreeTrialSignUpWindowView {
public:
    struct Part {
        std::string text;
        bool hidden = false, enabled = true, checked = false;
    };
    FreeTrialSignUpActions* actions = nullptr;
    std::map<SignUpPart, Part> parts;
    std::vector<SignUpPart> focused;
    std::string errorUpper;
    SignUpErrorBarLayout bar;

    RecordingSignUpView() {
        // Hidden as the layout first shows them.
        for (SignUpPart p : {SignUpPart::passwordRevealedField, SignUpPart::verifyEmailLabel,
                             SignUpPart::completedStateBackground, SignUpPart::startFreeTrialButton}) {
            parts[p].hidden = true;
        }
    }
    Part& operator[](SignUpPart p) { return parts[p]; }
    void setActions(FreeTrialSignUpActions* a) override { actions = a; }
    void setText(SignUpPart p, const std::string& t) override { parts[p].text = t; }
    std::string text(SignUpPart p) const override { return parts.contains(p) ? parts.at(p).text : ""; }
    void setTitle(SignUpPart p, const std::string& t, const SignUpTitleStyle&) override { parts[p].text = t; }
    void setPlaceholder(SignUpPart, const std::string&) override {}
    void setHidden(SignUpPart p, bool h) override { parts[p].hidden = h; }
    bool isHidden(SignUpPart p) const override { return parts.contains(p) && parts.at(p).hidden; }
    void setEnabled(SignUpPart p, bool e) override { parts[p].enabled = e; }
    void setAnimating(SignUpPart, bool) override {}
    bool isChecked(SignUpPart p) const override { return parts.contains(p) && parts.at(p).checked; }
    void focus(SignUpPart p) override { focused.push_back(p); }
    void setErrorTexts(const std::string& upper, const std::string&) override { errorUpper = upper; }
    void setErrorBarLayout(const SignUpErrorBarLayout& l, int) override { bar = l; }
};

class SignUpWindowTest : public test::ModelFixture {
protected:
    SignUpWindowTest() {
        secrets.writeString("svc", "appID", "UUID-1");
        model->authorizeForFreeTrialLink = "https://web.test/api/authorize";
        authorizeReplies({R"({"result":"success","authorization_token":"tok"})"});
        signUpReply(Reply::ok(JSON::parse(R"({"result":"success","message":"created"})")));
    }
    // Each authorize request takes the next body; the last one repeats.
    void authorizeReplies(std::vector<std::string> bodies) {
        backend.web = [this, bodies](const HttpRequest& request) {
            authorizeSent.push_back(request.body);
            return test::FakeHttpClient::ok(bodies[std::min(authorizeSent.size(), bodies.size()) - 1]);
        };
    }
    void signUpReply(Reply reply) {
        backend.functions["signupForFreeTrial"] = [this, reply](const JSON& params) {
            signUpParams.push_back(params);
            return reply;
        };
    }
    std::vector<std::string> signUpResults() const {
        std::vector<std::string> out;
        for (const auto& [name, p] : events) {
            if (name != "ae_user_signup" || !p) continue;
            auto msg = p->find("ap_signup_error_msg");
            out.push_back(p->at("ap_signup_result") + (msg == p->end() ? "" : ": " + msg->second));
        }
        return out;
    }
    FreeTrialSignUpWindowController& open() {
        if (!controller) {
            controller = std::make_unique<FreeTrialSignUpWindowController>(
                context, window, view,
                FreeTrialSignUpDependencies{service, auth, links, queue, shell, &defaults, [this] { ++mailLaunches; }});
        }
        controller->showWindow();
        queue.runUntilIdle();
        return *controller;
    }
    void fill(const std::string& email, const std::string& password, bool agreed = true) {
        view[SignUpPart::emailAddressField].text = email;
        view[SignUpPart::passwordField].text = password;
        view[SignUpPart::agreeToOurTermsCheckbox].checked = agreed;
    }
    void create() {
        view.actions->onStartFreeButtonClicked();
        runAll();
    }
    // A fresh window that sends one valid form.
    void createOnce() {
        controller.reset();
        events.clear();
        window.alertView.shown.clear();
        open();
        fill("new@example.com", "secret1");
        create();
    }
    std::vector<std::string> alerts() const {
        std::vector<std::string> out;
        for (const auto& a : window.alertView.shown) out.push_back(a.request.title + "|" + a.request.message);
        return out;
    }

    UUIDHelper uuid{secrets, system, "svc"};
    AuthService auth{*parse, keychain, *model, "svc"};
    FreeTrialSignUpService service{*parse, backend, uuid, queue};
    LinksManager links{*model};
    test::RecordingURLOpener opener;
    UserDefaultsController defaults{settings};
    std::vector<std::pair<std::string, std::optional<AnalyticsParameters>>> events;
    BaseControllerContext context{
        *model, [this](const std::string& n, const std::optional<AnalyticsParameters>& p) { events.emplace_back(n, p); },
        opener};
    std::vector<std::string> authorizeSent;
    std::vector<JSON> signUpParams;
    test::AuthShellCommands shell;
    test::RecordingWindowView window;
    RecordingSignUpView view;
    int mailLaunches = 0;
    std::unique_ptr<FreeTrialSignUpWindowController> controller;
};

TEST_F(SignUpWindowTest, EachFailureByOriginCodeAndShape) {
    const std::string failed = LocaleData::free_trial_failed_to_authorize_error_notification();
    const std::string unknown = LocaleData::free_trial_unknown_error_notification();
    const std::string wrong = LocaleData::free_trial_wrong_response_error_notification();
    const Reply created = Reply::ok(JSON::parse(R"({"result":"success","message":"created"})"));
    struct Row {
        const char* authorize;
        Reply cloud;
        std::string analytics;
        std::string alert = "";  // empty: the alert is not compared
    };
    const char* ok = R"({"result":"success","authorization_token":"tok"})";
    const Row rows[] = {
        {"not json", created, failed + " (Error code: 104)", failed},
        {R"({"result":"success"})", created, failed + " (Error code: 102)", failed},
        {R"({"result":"odd","authorization_token":"t"})", created, failed + " (Error code: 101)", failed},
        {R"({"other":1})", created, failed + " (Error code: 103)", failed},
        {R"({"errorCode":11,"message":"Exists already"})", created, "Exists already (Error code: 11)", "Exists already"},
        {R"({"errorCode":12})", created, failed + " (Error code: 12)", failed},
        {R"({"errorCode":"11","message":"text code"})", created, failed, failed},
        {R"({"errorCode":5,"message":""})", created, " (Error code: 5)", " (Error code: 5)"},
        {ok, Reply::error(141, R"({"errorCode":1,"message":"Account exists"})"), "Account exists (Error code: 1)"},
        {ok, Reply::error(141, R"({"errorCode":10.7,"message":"Slow down"})"), "Slow down (Error code: 10)"},
        {ok, Reply::error(141, "plain words"), "plain words (Error code: 141)"},
        // A code no integer can hold falls back to the error's own.
        {ok, Reply::error(141, R"({"errorCode":1e19,"message":"huge"})"),
         R"({"errorCode":1e19,"message":"huge"} (Error code: 141))"},
        {ok, Reply::error(141, R"({"errorCode":1e400,"message":"huge"})"),
         R"({"errorCode":1e400,"message":"huge"} (Error code: 141))"},
        {ok, Reply::ok(JSON::parse(R"({"result":"success"})")), unknown + " (Error code: )"},
        {ok, Reply::ok(JSON::parse(R"({"result":"no","message":"m"})")), wrong + " (Error code: )"},
        {ok, Reply::ok(JSON::parse("[1]")), unknown + " (Error code: -1)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.analytics);
        authorizeReplies({row.authorize});
        signUpReply(row.cloud);
        createOnce();
        EXPECT_EQ(signUpResults(), std::vector<std::string>{"error: " + row.analytics});
        ASSERT_EQ(alerts().size(), 1u);
        if (!row.alert.empty()) { EXPECT_EQ(alerts()[0], "Sign Up Error|" + row.alert); }
        EXPECT_FALSE(controller->signUpButtonDisabled()) << "the form comes back";
    }
}

TEST_F(SignUpWindowTest, TransportFailureIsCode100AndALinkThatIsNoWebAddressToo) {
    model->authorizeForFreeTrialLink = "not a link";
    createOnce();
    create();  // the silent resend used up, the second attempt reports at once
    EXPECT_EQ(signUpResults().back(),
              "error: " + LocaleData::free_trial_failed_to_authorize_error_notification() + " (Error code: 100)");
    EXPECT_TRUE(authorizeSent.empty());
}

TEST_F(SignUpWindowTest, NoConnectionAlertSendsNoEvent) {
    open().onInternetConnectionBecomeUnReachable();
    EXPECT_EQ(alerts(), std::vector<std::string>{"Internet Connection Error|Please check your internet connection, and try again."});
    EXPECT_TRUE(signUpResults().empty());
}

TEST_F(SignUpWindowTest, OnlyTheFirstFailedAuthorizeOfTheControllerIsResentSilently) {
    authorizeReplies({"not json", "not json"});
    createOnce();
    ASSERT_EQ(authorizeSent.size(), 2u);
    EXPECT_EQ(authorizeSent[0], authorizeSent[1]) << "the resend carries the same body";
    EXPECT_EQ(alerts().size(), 1u);

    // Later ones, also after a success, are reported at once.
    authorizeReplies({R"({"result":"success","authorization_token":"t"})", "not json"});
    authorizeSent.clear();
    signUpReply(Reply::error(141, R"({"errorCode":1,"message":"Account exists"})"));
    create();
    create();
    EXPECT_EQ(authorizeSent.size(), 2u);
    EXPECT_EQ(alerts().back(), "Sign Up Error|" + LocaleData::free_trial_failed_to_authorize_error_notification());
}

TEST_F(SignUpWindowTest, NeitherThePasswordNorTheRepliesReachTheLog) {
    authorizeReplies({R"({"result":"success","authorization_token":"TOKEN-SECRET"})"});
    signUpReply(Reply::ok(JSON::parse(R"({"result":"success","message":"REPLY-SECRET"})")));
    open();
    fill("new@example.com", "PASSWORD-SECRET");
    create();
    EXPECT_EQ(signUpResults(), std::vector<std::string>{"success"});
    for (const char* secret : {"TOKEN-SECRET", "REPLY-SECRET", "PASSWORD-SECRET", "UEFTU1dPUkQtU0VDUkVU"}) {
        EXPECT_FALSE(log->contains(secret)) << secret;
    }
}

TEST_F(SignUpWindowTest, CampaignArgumentsTravelWithTheSignUp) {
    model->setAppLaunchParameters(SettingValue(StringList{"-utm_source=news", "-pixel_url=a=b", "-utm_term", "x"}));
    open();
    fill("a+b/c@example.com", "secret1");
    create();
    ASSERT_EQ(signUpParams.size(), 1u);
    const auto param = [&](const char* name) { return signUpParams[0][name].string().value_or("<none>"); };
    EXPECT_EQ(param("utm_source"), "news");
    EXPECT_EQ(param("pixel_url"), "a");
    EXPECT_EQ(param("utm_term"), "");
    EXPECT_EQ(signUpParams[0]["email_b64"].string(), service.username);
    EXPECT_EQ(authorizeSent[0].rfind("email=" + *service.username + "&uuid=UUID-1&token=", 0), 0u);
    EXPECT_EQ(auth.recentLoginData()->username, "a+b/c@example.com");
}

TEST_F(SignUpWindowTest, SuccessShowsTheCompletedScreenAfterASecondAndContinueSignsInNextTime) {
    open();
    fill("  new@example.com\t", " secret1 ");
    view.actions->onStartFreeButtonClicked();
    view.actions->onStartFreeButtonClicked();  // ignored while busy
    view.actions->onEnterPressed(SignUpPart::passwordField);
    EXPECT_FALSE(view[SignUpPart::startFreeButton].enabled);
    queue.runUntilIdle();
    EXPECT_EQ(authorizeSent.size(), 1u) << "one sign-up only";
    EXPECT_EQ(view[SignUpPart::passwordField].text, "secret1");
    EXPECT_EQ(signUpResults(), std::vector<std::string>{"success"});

    queue.advance(999);
    EXPECT_TRUE(view[SignUpPart::startFreeTrialButton].hidden);
    queue.advance(1);
    queue.runUntilIdle();
    EXPECT_FALSE(view[SignUpPart::startFreeTrialButton].hidden);
    EXPECT_TRUE(view[SignUpPart::startFreeButton].hidden);

    view.actions->onStartYourFreeTrialButtonClick();
    EXPECT_EQ(settings.boolForKey("signMeInWhenHavenwayStarts"), true);
    EXPECT_EQ(shell.calls, std::vector<std::string>{"hideFreeTrialSignUpWindow"});
    queue.runUntilIdle();
    EXPECT_EQ(shell.calls.back(), "openAuthWindowToLogIn");
    EXPECT_EQ(model->loginWindowFrame, std::optional<WindowFrame>(window.currentFrame));

    open();
    EXPECT_FALSE(view[SignUpPart::startFreeTrialButton].hidden) << "shown again, it stays completed";
    EXPECT_EQ(view.bar.alpha, 0.0);
}

TEST_F(SignUpWindowTest, LogInLinkIsIgnoredWhileBusyAndTakesTheFrameOtherwise) {
    model->loginWindowFrame = WindowFrame{10, 20, 400, 600};
    signUpReply(Reply::error(141, "down"));
    open();
    EXPECT_EQ(window.currentFrame, (WindowFrame{10, 20, 400, 600}));
    fill("new@example.com", "secret1");
    view.actions->onStartFreeButtonClicked();
    view.actions->onLogInButtonClick();
    EXPECT_TRUE(shell.calls.empty());
    runAll();
    view.actions->onLogInButtonClick();
    EXPECT_EQ(shell.count("hideFreeTrialSignUpWindow"), 1);
    runAll();
    EXPECT_EQ(shell.calls.back(), "openAuthWindowToLogIn") << "the login window in its log-in form";
}

TEST_F(SignUpWindowTest, ShowHideCopiesTheWholeText) {
    open();
    view.actions->onShowPasswordButtonClick();
    EXPECT_FALSE(view[SignUpPart::passwordField].hidden) << "nothing to reveal";

    view[SignUpPart::passwordField].text = "abc";
    view.actions->onShowPasswordButtonClick();
    EXPECT_TRUE(view[SignUpPart::passwordField].hidden);
    EXPECT_EQ(view[SignUpPart::passwordRevealedField].text, "abc");
    EXPECT_EQ(view[SignUpPart::revealPasswordButton].text, "Hide");

    view[SignUpPart::passwordRevealedField].text = "";
    view.actions->onShowPasswordButtonClick();
    EXPECT_EQ(view[SignUpPart::passwordField].text, "") << "the emptied text goes back";

    // With the twin on display, its text is what is checked and sent.
    fill("new@example.com", "xx");
    view.actions->onShowPasswordButtonClick();
    view[SignUpPart::passwordRevealedField].text = "longer1";
    create();
    EXPECT_EQ(*service.passwordPlain, "longer1");
}

TEST_F(SignUpWindowTest, ValidationFailureShowsTheBarAndSendsNothing) {
    open();
    fill("bad", "secret1");
    create();
    EXPECT_EQ(view.errorUpper, "Invalid Email");
    EXPECT_EQ(view.bar.alpha, 1.0);
    EXPECT_TRUE(authorizeSent.empty());
    EXPECT_TRUE(events.empty());
    fill("new@example.com", "secret1", false);
    create();
    EXPECT_EQ(view.errorUpper, LocaleData::free_trial_sign_up_terms_of_service_agree_error());
}

TEST_F(SignUpWindowTest, VerifyScreenOnTheNextTurnAndCheckInbox) {
    open();
    view[SignUpPart::emailAddressField].text = "me@example.com";
    controller->showVerifyEmailView();
    EXPECT_TRUE(view[SignUpPart::verifyEmailLabel].hidden);
    queue.runUntilIdle();
    EXPECT_FALSE(view[SignUpPart::verifyEmailLabel].hidden);
    EXPECT_TRUE(view[SignUpPart::loginFieldsGroup].hidden);
    EXPECT_EQ(view[SignUpPart::sent_to_Email_addressField].text, "me@example.com");
    view.actions->onCheckInboxButtonClick();
    EXPECT_EQ(mailLaunches, 1);

    service.onEmailVerificationApproved();
    runAll();
    queue.advance(1000);
    queue.runUntilIdle();
    EXPECT_FALSE(controller->isInVerifyEmailState());
    EXPECT_FALSE(view[SignUpPart::completedStateBackground].hidden);
}

}  // namespace
}  // namespace hw
