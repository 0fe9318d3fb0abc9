#pragma once
// The sign-up window's controller on the real sign-up and sign-in services
// over the fake backend, in virtual time.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "controllers/free_trial_sign_up_window_controller.h"
#include "auth_shell_commands.h"
#include "recording_sign_up_view.h"
#include "services/auth_service.h"
#include "services/free_trial_sign_up_service.h"
#include "services/links_manager.h"
#include "services/model_fixture.h"
#include "support/recording_url_opener.h"
#include "support/recording_window_view.h"
#include "view/user_defaults_controller.h"

namespace hw::test {

class SignUpFixture : public ModelFixture {
protected:
    SignUpFixture() {
        secrets.writeString("svc", "appID", "UUID-1");
        model->authorizeForFreeTrialLink = "https://web.test/api/authorize";
        authorizeReplies({R"({"result":"success","authorization_token":"tok"})"});
        signUpReply(FakeBackend::Reply::ok(JSON::parse(R"({"result":"success","message":"created"})")));
    }

    // Each authorize request takes the next body; the last one repeats.
    void authorizeReplies(std::vector<std::string> bodies) {
        authorizeBodies = std::move(bodies);
        backend.web = [this](const HttpRequest& request) {
            authorizeSent.push_back(request.body);
            const std::size_t i = std::min(authorizeSent.size(), authorizeBodies.size()) - 1;
            return FakeHttpClient::ok(authorizeBodies[i]);
        };
    }
    void signUpReply(FakeBackend::Reply reply) {
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

    UUIDHelper uuid{secrets, system, "svc"};
    AuthService auth{*parse, secrets, *model, "svc"};
    FreeTrialSignUpService service{*parse, backend, uuid, queue};
    LinksManager links{*model};
    RecordingURLOpener opener;
    UserDefaultsController defaults{settings};
    std::vector<std::pair<std::string, std::optional<AnalyticsParameters>>> events;
    BaseControllerContext context{
        *model, [this](const std::string& n, const std::optional<AnalyticsParameters>& p) { events.emplace_back(n, p); },
        opener};
    std::vector<std::string> authorizeBodies;
    std::vector<std::string> authorizeSent;
    std::vector<JSON> signUpParams;
    AuthShellCommands shell;
};

}  // namespace hw::test
