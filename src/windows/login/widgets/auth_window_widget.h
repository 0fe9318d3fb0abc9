#pragma once
#include <QPointer>
#include <QRect>
#include <QSize>
#include <functional>
#include <map>

#include "view/kit_window.h"
#include "windows/login/auth_window_view.h"

class QLabel;
class QLineEdit;
class QCheckBox;
class QPushButton;
class QVariantAnimation;

namespace hw {

class ActivityIndicatorWithImage;
class CustomNSView;
class UserDefaultsController;

// Where the bars and the form stand for a bar layout, in window pixels.
struct AuthWindowGeometry {
    QRect logo;
    QRect errorBar;
    QRect yellowBar;
    QRect heading;
    QRect fieldsGroup;
    QRect optionsRow;
    QRect loginButton;
};
AuthWindowGeometry authWindowGeometry(const AuthBarLayout& layout, QSize window);

// Makes the enterprise sign-in page on first use and loads it again on
// every later call; none when the page cannot be made.
using EnterprisePageMaker = std::function<QWidget*(QWidget* parent)>;

// The login window: draws the form and the bars and forwards clicks and
// ENTER to the controller. Holds no decisions.
class AuthWindowWidget final : public KitWindow, public AuthWindowView {
    Q_OBJECT
public:
    static constexpr QSize kSize{380, 640};

    // The check box binds to the setting through the controller given; none: unbound.
    explicit AuthWindowWidget(UserDefaultsController* settings = nullptr, EnterprisePageMaker makePage = nullptr);
    ~AuthWindowWidget() override;

    void setActions(AuthWindowActions* actions) override { actions_ = actions; }
    void setText(AuthPart part, const std::string& text) override;
    std::string text(AuthPart part) const override;
    void setPlaceholder(AuthPart field, const std::string& text) override;
    void setHidden(AuthPart part, bool hidden) override;
    void setEnabled(AuthPart part, bool enabled) override;
    void setAlpha(AuthPart part, double alpha) override;
    double alpha(AuthPart part) const override;
    void setImage(AuthPart part, const std::string& imageName) override;
    void focusField(AuthPart field) override;
    void clearFocus() override;
    void setSpinning(bool spinning) override;
    void setBarLayout(const AuthBarLayout& layout) override;
    void animateBarLayout(const AuthBarLayout& layout, int durationMs) override;
    bool showEnterprisePage() override;
    bool errorDetailFitsOneLine(const std::string& text) const override;

    // For tests and shots.
    QWidget* part(AuthPart part) const;
    const AuthBarLayout& shownBarLayout() const { return shown_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void build(UserDefaultsController* settings);
    void relayout();
    void applyOpacity(QWidget* widget, double alpha);

    AuthWindowActions* actions_ = nullptr;
    EnterprisePageMaker makePage_;
    QPointer<QWidget> page_;
    CustomNSView* mainView_ = nullptr;
    std::map<AuthPart, QWidget*> parts_;
    // The label that carries the text of a group.
    std::map<AuthPart, QLabel*> groupLabels_;
    std::map<AuthPart, double> alpha_;
    QLabel* usernameIcon_ = nullptr;
    QLabel* logo_ = nullptr;
    ActivityIndicatorWithImage* spinner_ = nullptr;
    AuthBarLayout shown_;
    AuthBarLayout from_;
    AuthBarLayout to_;
    QPointer<QVariantAnimation> animation_;
};

}  // namespace hw
