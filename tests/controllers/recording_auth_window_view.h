#pragma once
// The login window as a recording: every control's text, visibility,
// enabled state and alpha, the focus, and the bar layouts asked for.
#include <map>
#include <string>
#include <vector>

#include "controllers/auth_window_view.h"
#include "support/recording_window_view.h"

namespace hw::test {

class RecordingAuthWindowView final : public RecordingWindowView, public AuthWindowView {
public:
    struct Control {
        std::string text;
        std::string placeholder;
        std::string image;
        bool hidden = false;
        bool enabled = true;
        double alpha = 1.0;
    };
    AuthWindowActions* actions = nullptr;
    std::map<AuthPart, Control> controls;
    std::optional<AuthPart> focus;
    bool spinning = false;
    AuthBarLayout bars;
    std::vector<std::pair<AuthBarLayout, int>> animations;
    int enterprisePagesShown = 0;
    bool canShowEnterprisePage = true;

    Control& operator[](AuthPart part) { return controls[part]; }
    bool shown(AuthPart part) { return !controls[part].hidden; }

    void setActions(AuthWindowActions* a) override { actions = a; }
    void setText(AuthPart part, const std::string& text) override { controls[part].text = text; }
    std::string text(AuthPart part) const override {
        auto it = controls.find(part);
        return it == controls.end() ? std::string() : it->second.text;
    }
    void setPlaceholder(AuthPart part, const std::string& text) override { controls[part].placeholder = text; }
    void setHidden(AuthPart part, bool hidden) override { controls[part].hidden = hidden; }
    void setEnabled(AuthPart part, bool enabled) override { controls[part].enabled = enabled; }
    void setAlpha(AuthPart part, double alpha) override { controls[part].alpha = alpha; }
    double alpha(AuthPart part) const override {
        auto it = controls.find(part);
        return it == controls.end() ? 1.0 : it->second.alpha;
    }
    void setImage(AuthPart part, const std::string& name) override { controls[part].image = name; }
    void focusField(AuthPart field) override { focus = field; }
    void clearFocus() override { focus.reset(); }
    void setSpinning(bool on) override { spinning = on; }
    void setBarLayout(const AuthBarLayout& layout) override { bars = layout; }
    void animateBarLayout(const AuthBarLayout& layout, int durationMs) override {
        bars = layout;
        animations.emplace_back(layout, durationMs);
    }
    bool showEnterprisePage() override {
        if (!canShowEnterprisePage) return false;
        ++enterprisePagesShown;
        controls[AuthPart::mainView].hidden = true;
        return true;
    }
};

}  // namespace hw::test
