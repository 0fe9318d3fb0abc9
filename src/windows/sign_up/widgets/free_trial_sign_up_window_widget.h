#pragma once
#include <QPointer>
#include <QRect>
#include <QSize>
#include <map>

#include "view/kit_window.h"
#include "windows/sign_up/free_trial_sign_up_window_view.h"

class QVariantAnimation;

namespace hw {

class ActivityIndicatorWithImage;

// Where the logo, the error bar and the form stand for a bar layout.
struct SignUpWindowGeometry {
    QRect logo;
    QRect errorBar;
    QRect heading;
    QRect fieldsGroup;
    QRect optionsRow;
};
SignUpWindowGeometry signUpWindowGeometry(const SignUpErrorBarLayout& layout, QSize window);

// The sign-up window: the form, the verify-e-mail and completed screens.
// Draws and forwards; the controller decides.
class FreeTrialSignUpWindowWidget final : public KitWindow, public FreeTrialSignUpWindowView {
    Q_OBJECT
public:
    static constexpr QSize kSize{380, 640};

    FreeTrialSignUpWindowWidget();
    ~FreeTrialSignUpWindowWidget() override;

    void setActions(FreeTrialSignUpActions* actions) override { actions_ = actions; }
    void setText(SignUpPart part, const std::string& text) override;
    std::string text(SignUpPart part) const override;
    void setTitle(SignUpPart part, const std::string& title, const SignUpTitleStyle& style) override;
    void setPlaceholder(SignUpPart part, const std::string& text) override;
    void setHidden(SignUpPart part, bool hidden) override;
    bool isHidden(SignUpPart part) const override;
    void setEnabled(SignUpPart part, bool enabled) override;
    void setAnimating(SignUpPart part, bool animating) override;
    bool isChecked(SignUpPart part) const override;
    void focus(SignUpPart part) override;
    void setErrorTexts(const std::string& upper, const std::string& lower) override;
    void setErrorBarLayout(const SignUpErrorBarLayout& layout, int durationMs) override;

    // For tests and shots.
    QWidget* part(SignUpPart part) const;
    const SignUpErrorBarLayout& shownBarLayout() const { return shown_; }

private:
    void build();
    void relayout();

    FreeTrialSignUpActions* actions_ = nullptr;
    std::map<SignUpPart, QWidget*> parts_;
    std::map<SignUpPart, bool> hidden_;
    QWidget* errorBar_ = nullptr;
    QWidget* errorUpper_ = nullptr;
    QWidget* errorLower_ = nullptr;
    QWidget* completedUpper_ = nullptr;
    QWidget* completedLower_ = nullptr;
    QWidget* footer_ = nullptr;
    QWidget* termsRow_ = nullptr;
    SignUpErrorBarLayout shown_;
    QPointer<QVariantAnimation> animation_;
};

}  // namespace hw
