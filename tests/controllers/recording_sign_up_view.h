#pragma once
// The sign-up window's widget as its controller sees it, recording state.
#include <map>
#include <string>
#include <vector>

#include "controllers/free_trial_sign_up_window_view.h"

namespace hw::test {

class RecordingSignUpView final : public FreeTrialSignUpWindowView {
public:
    struct Part {
        std::string text;
        std::string placeholder;
        SignUpTitleStyle style;
        bool hidden = false;
        bool enabled = true;
        bool animating = false;
        bool checked = false;
    };
    FreeTrialSignUpActions* actions = nullptr;
    std::map<SignUpPart, Part> parts;
    std::vector<SignUpPart> focused;
    std::string errorUpper, errorLower;
    SignUpErrorBarLayout bar;

    RecordingSignUpView() {
        // The form as the layout first shows it.
        for (SignUpPart p : {SignUpPart::passwordRevealedField, SignUpPart::signUpLoadingIndicator,
                             SignUpPart::activityIndicator, SignUpPart::verifyEmailLabel, SignUpPart::emailEnvelopeImage,
                             SignUpPart::weSentVerificationEmailLabel, SignUpPart::sent_to_Email_addressField,
                             SignUpPart::checkInboxButton, SignUpPart::resendVerificationEmailBar,
                             SignUpPart::alreadyVerifiedLabel, SignUpPart::alreadyVerifiedButton,
                             SignUpPart::completedStateBackground, SignUpPart::startFreeTrialButton}) {
            parts[p].hidden = true;
        }
    }
    Part& operator[](SignUpPart p) { return parts[p]; }

    void setActions(FreeTrialSignUpActions* a) override { actions = a; }
    void setText(SignUpPart p, const std::string& t) override { parts[p].text = t; }
    std::string text(SignUpPart p) const override {
        auto it = parts.find(p);
        return it == parts.end() ? std::string() : it->second.text;
    }
    void setTitle(SignUpPart p, const std::string& t, const SignUpTitleStyle& s) override {
        parts[p].text = t;
        parts[p].style = s;
    }
    void setPlaceholder(SignUpPart p, const std::string& t) override { parts[p].placeholder = t; }
    void setHidden(SignUpPart p, bool h) override { parts[p].hidden = h; }
    bool isHidden(SignUpPart p) const override {
        auto it = parts.find(p);
        return it != parts.end() && it->second.hidden;
    }
    void setEnabled(SignUpPart p, bool e) override { parts[p].enabled = e; }
    void setAnimating(SignUpPart p, bool a) override { parts[p].animating = a; }
    bool isChecked(SignUpPart p) const override {
        auto it = parts.find(p);
        return it != parts.end() && it->second.checked;
    }
    void focus(SignUpPart p) override { focused.push_back(p); }
    void setErrorTexts(const std::string& u, const std::string& l) override {
        errorUpper = u;
        errorLower = l;
    }
    void setErrorBarLayout(const SignUpErrorBarLayout& l, int) override { bar = l; }
};

}  // namespace hw::test
