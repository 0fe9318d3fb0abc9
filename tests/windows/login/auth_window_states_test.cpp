// Layout states, links and the enterprise sign-in of the login window.
#include "auth_window_fixture.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

using test::AuthWindowFixture;
using Reply = test::FakeBackend::Reply;

TEST_F(AuthWindowFixture, FourLayoutStatesShowTheirControls) {
    open();
    using P = AuthPart;
    struct Row {
        void (AuthWindowViewController::*enter)();
        const char* button;
        bool signUp, completed;
        // The title names the form; the two states inside the sign-up keep its title.
        const char* title;
        std::vector<AuthPart> shown, hidden;
    };
    const Row rows[] = {
        {&AuthWindowViewController::activateLogIn_state, "LOG IN", false, false, "Log In — Havenway",
         {P::dontHaveAnAccountSubview, P::signMeOnStart, P::forgotPasswordLink, P::needHelpLinkButton, P::loginFieldsGroup,
          P::createNewAccountLink},
         {P::alreadyHaveAccountSubview, P::tosSubview, P::creatingYourAccountSubview, P::accountCreatedSubview,
          P::signUpCompletedImage}},
        {&AuthWindowViewController::activateSignUp_state, "SIGN UP", true, false, "Sign Up — Havenway",
         {P::alreadyHaveAccountSubview, P::tosSubview, P::loginFieldsGroup},
         {P::dontHaveAnAccountSubview, P::signMeOnStart, P::forgotPasswordLink, P::needHelpLinkButton,
          P::signUpCompletedImage, P::createNewAccountLink}},
        {&AuthWindowViewController::activateSignUpInProgress_state, "", true, false, "Sign Up — Havenway",
         {P::tosSubview, P::loginFieldsGroup},
         {P::signUpCompletedImage}},
        {&AuthWindowViewController::activateSignUpCompleted_state, "GET STARTED", true, true, "Sign Up — Havenway",
         {P::accountCreatedSubview, P::signUpCompletedImage},
         {P::loginFieldsGroup, P::tosSubview, P::alreadyHaveAccountSubview, P::dontHaveAnAccountSubview,
          P::createNewAccountLink}},
    };
    type("typed@example.com", "typed");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.button);
        const std::string before = view[P::loginButton].text;
        ((*controller).*row.enter)();
        EXPECT_EQ(view[P::loginButton].text, before) << "a state's work waits for the queue";
        queue.runUntilIdle();
        EXPECT_EQ(view[P::loginButton].text, row.button);
        EXPECT_EQ(controller->isInSignUpState(), row.signUp);
        EXPECT_EQ(controller->isInSignUpCompletedState(), row.completed);
        EXPECT_EQ(view.title(), row.title);
        for (AuthPart p : row.shown) EXPECT_TRUE(view.shown(p)) << static_cast<int>(p);
        for (AuthPart p : row.hidden) EXPECT_FALSE(view.shown(p)) << static_cast<int>(p);
        EXPECT_EQ(view[P::loginField].text, "typed@example.com") << "no state clears the fields";
    }
}

TEST_F(AuthWindowFixture, SwitchingToSignUpSendsTheErrorBarOut) {
    open();
    controller->onLogInLinkButtonClick();
    queue.runUntilIdle();
    click();
    ASSERT_TRUE(errorBarIn());
    controller->onSignUpFreeLinkButtonClick();
    queue.runUntilIdle();
    EXPECT_EQ(view.bars.errorAlpha, 0.0);
    EXPECT_EQ(view[AuthPart::usernameAndEmailIcon].image, "Email_icon");
    EXPECT_EQ(view[AuthPart::passwordField].placeholder, "Choose Password");
}

TEST_F(AuthWindowFixture, LinksOpenOnlyWebPagesAndOnlyWhenAllowed) {
    links.knowledgeBaseLink_Raw = "https://{$domainname}/kb";
    links.createNewAccountLink_Raw = "javascript:alert(1)";
    openFilled();
    const std::string base = links.baseAddress();
    const std::string help = links.knowledgeBaseURL().value();

    controller->onForgotButtonClick();
    controller->onNeedHelpLinkButtonClick();
    EXPECT_EQ(opener.opened, (std::vector<std::string>{base + "members/pwreset.php", help}));

    opener.opened.clear();
    backend.hold = true;
    click();  // busy from here on
    controller->onForgotButtonClick();
    controller->onCreateNewAccountButtonClick();
    controller->onNeedHelpLinkButtonClick();
    EXPECT_EQ(opener.opened, std::vector<std::string>{help}) << "only help while busy";
    EXPECT_EQ(shell.count("createNewAccountForAppStoreCommand"), 0);
    backend.release();
    queue.runUntilIdle();
    controller->onDataLoadFailed();
    queue.runUntilIdle();

    opener.opened.clear();
    model->rejectInAppFreeTrialSignUp = false;
    controller->onCreateNewAccountButtonClick();
    EXPECT_EQ(shell.count("createNewAccountForAppStoreCommand"), 1);
    model->rejectInAppFreeTrialSignUp = true;
    controller->onCreateNewAccountButtonClick();
    EXPECT_TRUE(opener.opened.empty()) << "a configured link that is no web page opens nothing";
    links.createNewAccountLink_Raw.reset();
    controller->onCreateNewAccountButtonClick();
    EXPECT_EQ(opener.opened, std::vector<std::string>{base + "signup"});
}

TEST_F(AuthWindowFixture, TermsLinkActsOnlyAtFullAlpha) {
    open();
    for (double alpha : {0.35, 0.99, 1.0}) {
        view[AuthPart::tosLinkedButton].alpha = alpha;
        controller->onToSButtonClick();
    }
    EXPECT_EQ(opener.opened, std::vector<std::string>{links.termsOfServiceLink().value()});
}

class EnterpriseAuthWindow : public AuthWindowFixture {
protected:
    EnterpriseAuthWindow() {
        make(true);
        open();
    }
    test::RecordingAlertView& alerts() { return view.alertView; }
};

TEST_F(EnterpriseAuthWindow, NoticesBecomeAlertsAndDismissalReloadsThePage) {
    struct Row {
        std::function<Reply(const JSON&)> reply;
        std::string title, detail;
    };
    const Row rows[] = {
        {nullptr, "Incorrect Password or Email.", "Please make sure you're using your VPN account credentials."},
        {[](const JSON&) { return Reply::error(155, R"({"error":"x","nextValidRequestDate":"2026-01-01"})"); },
         "Login error", "Too many requests in this time frame.\n" + LocaleData::login_connection_error_notification()},
    };
    int pages = view.enterprisePagesShown;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.title);
        if (row.reply) backend.functions["authenticateUser"] = row.reply;
        controller->startEnterpriseLogin("vpnuser", "wrong");
        queue.runUntilIdle();
        ASSERT_FALSE(alerts().shown.empty());
        EXPECT_EQ(alerts().shown.back().request.title, row.title);
        EXPECT_EQ(alerts().shown.back().request.message, row.detail);
        EXPECT_EQ(view.enterprisePagesShown, pages) << "the page reloads only on dismissal";
        alerts().answer();
        EXPECT_EQ(view.enterprisePagesShown, ++pages);
    }
}

TEST_F(EnterpriseAuthWindow, CodesAreTakenOnlyWhileThePageWaits) {
    EXPECT_EQ(view.enterprisePagesShown, 1) << "the page instead of the form";
    EXPECT_EQ(signIns, 0);
    EXPECT_TRUE(controller->canAcceptEnterpriseCode());
    backend.hold = true;
    controller->startEnterpriseLogin("vpnuser", "secret");
    EXPECT_FALSE(controller->canAcceptEnterpriseCode()) << "a sign-in runs";
    controller->startEnterpriseLogin("other", "secret");
    backend.release();
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1) << "the second code was dropped";
    EXPECT_EQ(shell.count("onLoginSuccess"), 1);
    EXPECT_FALSE(controller->canAcceptEnterpriseCode()) << "signed in: the data load runs";

    controller->onDataLoadFailed();
    EXPECT_TRUE(controller->canAcceptEnterpriseCode());
}

TEST_F(EnterpriseAuthWindow, FailedCodeExchangeShowsTheGenericAlertAndStartsThePageOver) {
    backend.web = [](const HttpRequest&) {
        HttpResponse r;
        r.status = 500;
        return r;
    };
    bool completed = false;
    enterpriseAuth.requestAuthToken("code", [&](const std::string&) { completed = true; });
    queue.runUntilIdle();
    EXPECT_FALSE(completed);
    ASSERT_EQ(alerts().shown.size(), 1u);
    EXPECT_EQ(alerts().shown[0].request.title, "Login error");
    EXPECT_EQ(alerts().shown[0].request.message, LocaleData::generic_error_notification_lower());
    alerts().answer();
    EXPECT_EQ(view.enterprisePagesShown, 2);
}

TEST_F(AuthWindowFixture, AFormWindowTakesNoEnterpriseCodes) {
    open();
    EXPECT_FALSE(controller->canAcceptEnterpriseCode());
    controller->startEnterpriseLogin("vpnuser", "secret");
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 0);
}

}  // namespace
}  // namespace hw
