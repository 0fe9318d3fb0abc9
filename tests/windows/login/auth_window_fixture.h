#pragma once
// The login window's controller on real services (sign-in, links, the
// enterprise code exchange) over the fake backend, in virtual time, with a
// recording window, shell and URL opener.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "auth_shell_commands.h"
#include "services/auth_service.h"
#include "services/enterprise_auth_service.h"
#include "services/links_manager.h"
#include "support/model_fixture.h"
#include "support/recording_url_opener.h"
#include "support/recording_window_view.h"
#include "windows/login/auth_window_view.h"
#include "windows/login/auth_window_view_controller.h"

namespace hw::test {

class RecordingAuthWindowView final : public RecordingWindowView, public AuthWindowView {
public:
    struct Control {
        std::string text, placeholder, image;
        bool hidden = false, enabled = true;
        double alpha = 1.0;
    };
    AuthWindowActions* actions = nullptr;
    std::map<AuthPart, Control> controls;
    std::optional<AuthPart> focus;
    bool spinning = false;
    AuthBarLayout bars;
    std::vector<int> animationsMs;
    int enterprisePagesShown = 0;

    Control& operator[](AuthPart part) { return controls[part]; }
    bool shown(AuthPart part) { return !controls[part].hidden; }
    void setActions(AuthWindowActions* a) override { actions = a; }
    void setText(AuthPart part, const std::string& text) override { controls[part].text = text; }
    std::string text(AuthPart part) const override { return controls.contains(part) ? controls.at(part).text : ""; }
    void setPlaceholder(AuthPart part, const std::string& text) override { controls[part].placeholder = text; }
    void setHidden(AuthPart part, bool hidden) override { controls[part].hidden = hidden; }
    void setEnabled(AuthPart part, bool enabled) override { controls[part].enabled = enabled; }
    void setAlpha(AuthPart part, double alpha) override { controls[part].alpha = alpha; }
    double alpha(AuthPart part) const override { return controls.contains(part) ? controls.at(part).alpha : 1.0; }
    void setImage(AuthPart part, const std::string& name) override { controls[part].image = name; }
    // As a widget: a disabled field does not take the focus.
    void focusField(AuthPart field) override {
        if (controls[field].enabled) focus = field;
    }
    void clearFocus() override { focus.reset(); }
    void setSpinning(bool on) override { spinning = on; }
    void setBarLayout(const AuthBarLayout& layout) override { bars = layout; }
    void animateBarLayout(const AuthBarLayout& layout, int ms) override {
        bars = layout;
        animationsMs.push_back(ms);
    }
    bool showEnterprisePage() override {
        ++enterprisePagesShown;
        controls[AuthPart::mainView].hidden = true;
        return true;
    }
};

// Answers what the backend answers, or, while silent, nothing until the
// request's own time-out, as the real client does.
class SilenceableHttp final : public HttpClient {
public:
    SilenceableHttp(HttpClient& inner, MainQueue& queue) : inner_(inner), queue_(queue) {}
    bool silent = false;
    void send(HttpRequest request, std::function<void(HttpResponse)> completion) override {
        if (!silent) return inner_.send(std::move(request), std::move(completion));
        queue_.postAfter(request.timeoutMs, [completion = std::move(completion)] {
            HttpResponse r;
            r.error = HttpTransportError{HttpTimedOut, "timed out"};
            completion(r);
        });
    }

private:
    HttpClient& inner_;
    MainQueue& queue_;
};

class AuthWindowFixture : public ModelFixture {
protected:
    AuthWindowFixture() {
        ApplicationModelPorts ports = model->ports();
        ports.loginData = &auth;
        model->setPorts(ports);
        model->signMeInWhenHavenwayStarts = true;
    }
    ~AuthWindowFixture() override {
        AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = false;
        AuthWindowViewController::ACTIVATE_LOG_IN_STATE = false;
    }

    AuthWindowViewController& make(bool enterprise = false, FreeTrialSignUpService* signUp = nullptr) {
        controller.reset();
        controller = std::make_unique<AuthWindowViewController>(
            context, view, view,
            AuthWindowDependencies{auth, links, queue, shell, enterprise ? &enterpriseAuth : nullptr, nullptr, signUp},
            enterprise);
        return *controller;
    }
    // What the shell does to open the window, then the queued turns.
    void open() {
        if (!controller) make();
        controller->pendingLoginData = auth.recentLoginData();
        controller->showWindow();
        queue.runUntilIdle();
    }
    // Remembered credentials in the form, no automatic sign-in.
    void openFilled() {
        remember("user@example.com", "secret");
        model->signMeInWhenHavenwayStarts = false;
        open();
    }
    void remember(const std::string& user, const std::string& password, bool withData = true) {
        auth.setRecentLoginData(LoginData{user, password, withData ? std::optional<Bytes>(Bytes{1}) : std::nullopt});
    }
    void type(const std::string& user, const std::string& password) {
        view[AuthPart::loginField].text = user;
        view[AuthPart::passwordField].text = password;
    }
    void click() { view.actions->onLoginButtonClick(); }
    void enter(AuthPart field = AuthPart::passwordField) { view.actions->onEnterPressed(field); }
    std::vector<std::string> loginResults() const {
        std::vector<std::string> out;
        for (const auto& [name, p] : events) {
            if (name == "ae_user_login" && p) out.push_back(p->at("ap_login_result"));
        }
        return out;
    }
    // The detail as the bar shows it over its one or two lines.
    std::string errorDetail() {
        const std::string second = view[AuthPart::errorLowerTextSecondLine].text;
        std::string all = view[AuthPart::errorLowerText].text + second;
        if (!second.empty()) all.pop_back();
        return all;
    }
    bool errorBarIn() const { return view.bars.errorAlpha == 1.0 && view.bars.errorBarTop == 146.0; }

    SilenceableHttp http{backend, queue};
    std::unique_ptr<ParseClient> client =
        std::make_unique<ParseClient>(FakeBackend::clientConfig(), http, queue, secrets, settings);
    AuthService auth{*client, keychain, *model, "svc"};
    LinksManager links{*model};
    EnterpriseAuthService enterpriseAuth{backend, "https://id.test/oauth/token", "https://id.test/userinfo"};
    RecordingURLOpener opener;
    std::vector<std::pair<std::string, std::optional<AnalyticsParameters>>> events;
    BaseControllerContext context{
        *model, [this](const std::string& n, const std::optional<AnalyticsParameters>& p) { events.emplace_back(n, p); },
        opener};
    RecordingAuthWindowView view;
    AuthShellCommands shell;
    std::unique_ptr<AuthWindowViewController> controller;
};

}  // namespace hw::test
