#include "windows/login/widgets/auth_window_widget.h"

#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QVariantAnimation>

#include "view/activity_indicator_with_image.h"
#include "view/hyperlink_text_field.h"
#include "view/keyboard_focus_ring.h"
#include "view/kit_color.h"
#include "view/kit_controls.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"
#include "view/user_defaults_bindings.h"
#include "windows/login/auth_window_view_controller.h"
#include "windows/login/widgets/login_window_views.h"

static void initLoginImages() {
    Q_INIT_RESOURCE(login_images);
    Q_INIT_RESOURCE(onboarding);
}

namespace hw {
namespace {

constexpr int kMargin = 30;
constexpr int kBarMargin = 20;
constexpr int kFieldRow = 48;
constexpr int kFooter = 56;
constexpr int kButtonHeight = 44;
constexpr double kYellowBarHeight = 47.0;
// The logo ends above the bars' shown place (146).
constexpr int kLogoTop = 70;
constexpr int kLogoSize = 64;
constexpr int kFormAnchor = 231;

QString qs(const std::string& s) { return QString::fromStdString(s); }

QLabel* makeLabel(QWidget* parent, const QFont& font, const char* color, Qt::Alignment alignment) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setAlignment(alignment);
    label->setStyleSheet(QStringLiteral("color:%1;background:transparent;").arg(kitColor(color).name()));
    return label;
}

NSButtonWithHandCursor* makeLink(QWidget* parent, const QFont& font, const char* color) {
    auto* link = new NSButtonWithHandCursor(parent);
    link->setFlat(true);
    link->setFont(font);
    link->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;color:%1;padding:0;}")
                            .arg(kitColor(color).name()));
    return link;
}

double lerp(double a, double b, double t) { return a + (b - a) * t; }

AuthBarLayout interpolate(const AuthBarLayout& a, const AuthBarLayout& b, double t) {
    AuthBarLayout out = b;
    out.errorBarTop = lerp(a.errorBarTop, b.errorBarTop, t);
    out.yellowBarTop = lerp(a.yellowBarTop, b.yellowBarTop, t);
    out.fieldsCenterY = lerp(a.fieldsCenterY, b.fieldsCenterY, t);
    out.buttonPaddingBottom = lerp(a.buttonPaddingBottom, b.buttonPaddingBottom, t);
    out.errorBarHeight = lerp(a.errorBarHeight, b.errorBarHeight, t);
    out.errorAlpha = lerp(a.errorAlpha, b.errorAlpha, t);
    out.yellowAlpha = lerp(a.yellowAlpha, b.yellowAlpha, t);
    return out;
}

}  // namespace

AuthWindowGeometry authWindowGeometry(const AuthBarLayout& layout, QSize window) {
    const int w = window.width();
    const int h = window.height();
    const int innerWidth = w - 2 * kMargin;
    // The offsets count from the window's top (bars) and from the form's
    // resting centre (negative: lower). That centre puts the heading just
    // under a bar that is in, and close under the logo while both are out.
    const int fieldsCenter = qRound(kFormAnchor - layout.fieldsCenterY);
    AuthWindowGeometry g;
    g.logo = QRect(0, kLogoTop, w, kLogoSize);
    g.fieldsGroup = QRect(kMargin, fieldsCenter - kFieldRow, innerWidth, 2 * kFieldRow);
    g.heading = QRect(kMargin, g.fieldsGroup.top() - 42, innerWidth, 30);
    g.optionsRow = QRect(kMargin, g.fieldsGroup.bottom() + 1 + 12, innerWidth, 22);
    const int buttonBottom = qRound(h - 100 - layout.buttonPaddingBottom);
    g.loginButton = QRect(kMargin, buttonBottom - kButtonHeight, innerWidth, kButtonHeight);
    g.errorBar = QRect(kBarMargin, qRound(layout.errorBarTop), w - 2 * kBarMargin, qRound(layout.errorBarHeight));
    g.yellowBar = QRect(kBarMargin, qRound(layout.yellowBarTop), w - 2 * kBarMargin, qRound(kYellowBarHeight));
    return g;
}

AuthWindowWidget::AuthWindowWidget(UserDefaultsController* settings, EnterprisePageMaker makePage)
    : makePage_(std::move(makePage)) {
    static const bool registered = (initLoginImages(), true);
    (void)registered;
    setFixedSize(kSize);
    build(settings);
    relayout();
}

AuthWindowWidget::~AuthWindowWidget() {
    if (animation_) animation_->stop();
}

void AuthWindowWidget::build(UserDefaultsController* settings) {
    mainView_ = new CustomNSView(this);
    mainView_->setFocusPolicy(Qt::ClickFocus);
    parts_[AuthPart::mainView] = mainView_;
    QWidget* root = mainView_;

    logo_ = new QLabel(root);
    logo_->setPixmap(QPixmap::fromImage(kitImage("Login_logo", {64, 64}, devicePixelRatioF())));
    logo_->setAlignment(Qt::AlignCenter);

    auto* heading = makeLabel(root, latoFont(900, 24), "#FFFFFF", Qt::AlignHCenter | Qt::AlignVCenter);
    parts_[AuthPart::logInSignUpLabel] = heading;

    // The form: two rows on a light ground, each with its icon.
    auto* group = new LoginViewInputFieldsBackground(root);
    parts_[AuthPart::loginFieldsGroup] = group;
    auto makeField = [&](int row, AuthPart part, const char* icon, AuthPart iconPart) {
        auto* iconLabel = new QLabel(group);
        iconLabel->setPixmap(QPixmap::fromImage(kitImage(icon, {20, 20}, devicePixelRatioF())));
        iconLabel->setGeometry(14, row * kFieldRow + 14, 20, 20);
        parts_[iconPart] = iconLabel;
        auto* field = new TextFieldWithCustomLineHeight(group);
        field->setFrame(false);
        field->setFont(latoFont(400, AuthWindowViewController::LOGIN_INPUT_FIELDS_FONT_SIZE));
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, kitColor("#efefef"));
        palette.setColor(QPalette::Text, kitColor("#303334"));
        palette.setColor(QPalette::PlaceholderText, kitColor("#8a8f94"));
        field->setPalette(palette);
        field->setObjectName(part == AuthPart::loginField ? "loginField" : "passwordField");
        parts_[part] = field;
        connect(field, &QLineEdit::returnPressed, this, [this, part] {
            if (actions_) actions_->onEnterPressed(part);
        });
        return iconLabel;
    };
    usernameIcon_ = makeField(0, AuthPart::loginField, "User_icon", AuthPart::usernameAndEmailIcon);
    makeField(1, AuthPart::passwordField, "Password_icon", AuthPart::passwordIcon);
    static_cast<QLineEdit*>(parts_[AuthPart::passwordField])->setEchoMode(QLineEdit::Password);
    auto* separator = new QWidget(group);
    separator->setObjectName("separator");
    separator->setStyleSheet(QStringLiteral("background:%1;").arg(kitColor("#d6d6d6").name()));
    separator->setProperty("row", kFieldRow);

    auto* completed = new QLabel(root);
    completed->setPixmap(QPixmap::fromImage(kitImage("Sign_up_completed", {96, 96}, devicePixelRatioF())));
    completed->setAlignment(Qt::AlignCenter);
    parts_[AuthPart::signUpCompletedImage] = completed;

    auto* box = new QCheckBox(root);
    box->setFont(latoFont(400, 12));
    box->setCursor(Qt::PointingHandCursor);
    // Checked: the same white box, filled, with the tick the sign-up form uses.
    box->setStyleSheet(QStringLiteral("QCheckBox{color:%1;background:transparent;spacing:8px;}"
                                      "QCheckBox::indicator{width:12px;height:12px;border:1px solid %1;"
                                      "border-radius:2px;background:transparent;}"
                                      "QCheckBox::indicator:checked{background:%1;image:url(:/onboarding/Check.svg);}")
                           .arg(kitColor("#FFFFFF").name()));
    if (settings) bindCheckBox(*box, *settings, "signMeInWhenHavenwayStarts");
    parts_[AuthPart::signMeOnStart] = box;

    auto* forgot = makeLink(root, latoFont(400, 12), "#FFFFFF");
    parts_[AuthPart::forgotPasswordLink] = forgot;
    connect(forgot, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onForgotButtonClick();
    });

    auto* tos = new QWidget(root);
    parts_[AuthPart::tosSubview] = tos;
    auto* tosPrefix = makeLabel(tos, latoFont(400, 12), "#FFFFFF", Qt::AlignRight | Qt::AlignVCenter);
    parts_[AuthPart::tosPrefixLabel] = tosPrefix;
    auto* tosLink = makeLink(tos, latoFont(700, 12), "#FFFFFF");
    parts_[AuthPart::tosLinkedButton] = tosLink;
    setFocusRingHugsText(*tosLink, Qt::AlignLeft);
    connect(tosLink, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onToSButtonClick();
    });

    auto* button = new QPushButton(root);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(latoFont(700, 13));
    button->setStyleSheet(QStringLiteral("QPushButton{color:%1;background:%2;border:none;border-radius:4px;}"
                                         "QPushButton:hover{background:%3;}QPushButton:pressed{background:%4;}")
                              .arg(kitColor("#FFFFFF").name(), kitColor("#303334").name(),
                                   kitColor("#373a3d").name(), kitColor("#4b4e51").name()));
    parts_[AuthPart::loginButton] = button;
    connect(button, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onLoginButtonClick();
    });
    spinner_ = new ActivityIndicatorWithImage(button);
    spinner_->setImageName("Activity_spinner");
    spinner_->hide();
    parts_[AuthPart::loginProgressIndicator] = spinner_;

    auto* help = makeLink(root, latoFont(400, 12), "#FFFFFF");
    parts_[AuthPart::needHelpLinkButton] = help;
    // Links laid out across a row: the keyboard's ring goes round their words.
    setFocusRingHugsText(*help, Qt::AlignHCenter);
    connect(help, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onNeedHelpLinkButtonClick();
    });

    // Its text keeps to the right edge, under the window's corner.
    auto* create = new CreateAccountLinkedText(root);
    create->setFlat(true);
    create->setFont(latoFont(400, 12));
    create->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;color:%1;padding:0;"
                                         "text-align:right;}")
                              .arg(kitColor("#FFFFFF").name()));
    parts_[AuthPart::createNewAccountLink] = create;
    setFocusRingHugsText(*create, Qt::AlignRight);
    create->onOpenAccountSignUp = [this] {
        if (actions_) actions_->onCreateNewAccountButtonClick();
    };

    // The footer: a white band with the row that switches the mode, or the
    // account-creation messages.
    auto* footer = new ColorFillView(kitColor("#FFFFFF"), root);
    footer->setObjectName("footer");
    auto makeSwitchRow = [&](AuthPart rowPart, AuthPart linkPart, bool toSignUp) {
        auto* row = new QWidget(footer);
        auto* label = makeLabel(row, latoFont(400, 13), "#303334", Qt::AlignRight | Qt::AlignVCenter);
        auto* link = makeLink(row, latoFont(700, 13), "#52a1ff");
        parts_[rowPart] = row;
        groupLabels_[rowPart] = label;
        parts_[linkPart] = link;
        connect(link, &QPushButton::clicked, this, [this, toSignUp] {
            if (!actions_) return;
            if (toSignUp) {
                actions_->onSignUpFreeLinkButtonClick();
            } else {
                actions_->onLogInLinkButtonClick();
            }
        });
    };
    makeSwitchRow(AuthPart::dontHaveAnAccountSubview, AuthPart::signUpFreeButton, true);
    makeSwitchRow(AuthPart::alreadyHaveAccountSubview, AuthPart::logInLinkButton, false);
    for (AuthPart message : {AuthPart::creatingYourAccountSubview, AuthPart::accountCreatedSubview}) {
        auto* label = makeLabel(footer, latoFont(700, 13), "#303334", Qt::AlignCenter);
        parts_[message] = label;
        groupLabels_[message] = label;
        label->hide();
    }

    // The two bars; they never take clicks, even while faded out.
    auto* errorBar = new LoginWindow_ErrorSubview(root);
    errorBar->setAttribute(Qt::WA_TransparentForMouseEvents);
    parts_[AuthPart::errorNotificationsBox] = errorBar;
    parts_[AuthPart::errorUpperText] = makeLabel(errorBar, latoFont(700, 13), "#FFFFFF", Qt::AlignCenter);
    parts_[AuthPart::errorLowerText] = makeLabel(errorBar, latoFont(400, 11), "#FFFFFF", Qt::AlignCenter);
    parts_[AuthPart::errorLowerTextSecondLine] = makeLabel(errorBar, latoFont(400, 11), "#FFFFFF", Qt::AlignCenter);
    auto* yellowBar = new ColorFillView(kitColor("#f7c948"), root);
    yellowBar->setAttribute(Qt::WA_TransparentForMouseEvents);
    parts_[AuthPart::yellowNotificationBar] = yellowBar;
    parts_[AuthPart::yellowNotificationBarUpperText] =
        makeLabel(yellowBar, latoFont(700, 13), "#303334", Qt::AlignCenter);
    // The top bar's line: plain today, and able to carry a link.
    auto* topBarField = new MixedNSTextFieldWithHyperlink(yellowBar);
    topBarField->setObjectName("normalTopBarNotificationField");
    topBarField->setFont(latoFont(400, 11));
    topBarField->setTextColor(kitColor("#303334"));
    parts_[AuthPart::yellowNotificationBarLowerText] = topBarField;
    // The bar takes no clicks: its one control lies over it.
    auto* lift = makeLink(root, latoFont(700, 11), "#303334");
    parts_[AuthPart::liftNetworkLockButton] = lift;
    lift->hide();
    connect(lift, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onLiftNetworkLockClick();
    });
    applyOpacity(errorBar, 0.0);
    applyOpacity(yellowBar, 0.0);
    alpha_[AuthPart::errorNotificationsBox] = 0.0;
    alpha_[AuthPart::yellowNotificationBar] = 0.0;
}

void AuthWindowWidget::resizeEvent(QResizeEvent* event) {
    KitWindow::resizeEvent(event);
    relayout();
}

void AuthWindowWidget::relayout() {
    const QSize size = this->size();
    mainView_->setGeometry(rect());
    if (page_) page_->setGeometry(rect());
    const AuthWindowGeometry g = authWindowGeometry(shown_, size);
    const int w = size.width();
    const int h = size.height();

    logo_->setGeometry(g.logo);
    part(AuthPart::logInSignUpLabel)->setGeometry(g.heading);
    part(AuthPart::loginFieldsGroup)->setGeometry(g.fieldsGroup);
    for (AuthPart field : {AuthPart::loginField, AuthPart::passwordField}) {
        const int row = field == AuthPart::loginField ? 0 : 1;
        part(field)->setGeometry(44, row * kFieldRow + 8, g.fieldsGroup.width() - 56, kFieldRow - 16);
    }
    if (auto* separator = part(AuthPart::loginFieldsGroup)->findChild<QWidget*>("separator")) {
        separator->setGeometry(12, kFieldRow, g.fieldsGroup.width() - 24, 1);
    }
    part(AuthPart::signUpCompletedImage)->setGeometry(g.fieldsGroup.adjusted(0, -20, 0, 20));

    const QRect options = g.optionsRow;
    part(AuthPart::signMeOnStart)->setGeometry(options.left(), options.top(), options.width() - 70, options.height());
    part(AuthPart::forgotPasswordLink)->setGeometry(options.right() - 64, options.top(), 65, options.height());
    part(AuthPart::tosSubview)->setGeometry(options);
    const int prefixWidth = options.width() / 2 + 40;
    part(AuthPart::tosPrefixLabel)->setGeometry(0, 0, prefixWidth, options.height());
    part(AuthPart::tosLinkedButton)->setGeometry(prefixWidth + 4, 0, options.width() - prefixWidth - 4, options.height());
    static_cast<QPushButton*>(part(AuthPart::tosLinkedButton))->setStyleSheet(
        QStringLiteral("QPushButton{border:none;background:transparent;color:%1;padding:0;text-align:left;"
                       "text-decoration:underline;}")
            .arg(kitColor("#FFFFFF").name()));

    part(AuthPart::loginButton)->setGeometry(g.loginButton);
    spinner_->setGeometry(g.loginButton.width() / 2 - 12, g.loginButton.height() / 2 - 12, 24, 24);
    part(AuthPart::needHelpLinkButton)->setGeometry(0, h - kFooter - 36, w, 22);
    part(AuthPart::createNewAccountLink)->setGeometry(w - 200, 8, 188, 20);

    auto* footer = mainView_->findChild<QWidget*>("footer");
    footer->setGeometry(0, h - kFooter, w, kFooter);
    for (AuthPart row : {AuthPart::dontHaveAnAccountSubview, AuthPart::alreadyHaveAccountSubview}) {
        QWidget* r = part(row);
        r->setGeometry(0, 0, w, kFooter);
        const int half = w / 2 + 40;
        groupLabels_[row]->setGeometry(0, 0, half, kFooter);
        part(row == AuthPart::dontHaveAnAccountSubview ? AuthPart::signUpFreeButton : AuthPart::logInLinkButton)
            ->setGeometry(half + 6, 0, w - half - 6, kFooter);
    }
    for (AuthPart message : {AuthPart::creatingYourAccountSubview, AuthPart::accountCreatedSubview}) {
        part(message)->setGeometry(0, 0, w, kFooter);
    }
    for (QPushButton* link : {static_cast<QPushButton*>(part(AuthPart::signUpFreeButton)),
                              static_cast<QPushButton*>(part(AuthPart::logInLinkButton))}) {
        setFocusRingHugsText(*link, Qt::AlignLeft);
        link->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;color:%1;padding:0;"
                                           "text-align:left;}")
                                .arg(kitColor("#52a1ff").name()));
    }

    // The bars: title, then one or two detail lines.
    part(AuthPart::errorNotificationsBox)->setGeometry(g.errorBar);
    const int barWidth = g.errorBar.width();
    const int titleTop = qRound(shown_.errorTitleTop);
    part(AuthPart::errorUpperText)->setGeometry(8, titleTop, barWidth - 16, 20);
    const int detailTop = titleTop + 20 + qRound(shown_.errorTitleSpacing);
    QFont detailFont = latoFont(400, shown_.errorDetailFontSize);
    for (AuthPart line : {AuthPart::errorLowerText, AuthPart::errorLowerTextSecondLine}) {
        part(line)->setFont(detailFont);
        const int index = line == AuthPart::errorLowerText ? 0 : 1;
        part(line)->setGeometry(8, detailTop + index * 16, barWidth - 16, 16);
    }
    part(AuthPart::yellowNotificationBar)->setGeometry(g.yellowBar);
    part(AuthPart::yellowNotificationBarUpperText)->setGeometry(8, 5, barWidth - 16, 20);
    part(AuthPart::yellowNotificationBarLowerText)->setGeometry(8, 25, barWidth - 16, 16);
    part(AuthPart::liftNetworkLockButton)->setGeometry(g.yellowBar.x() + 8, g.yellowBar.y() + 25, barWidth - 16, 16);
    part(AuthPart::liftNetworkLockButton)->raise();
    applyOpacity(part(AuthPart::errorNotificationsBox), shown_.errorAlpha);
    applyOpacity(part(AuthPart::yellowNotificationBar), shown_.yellowAlpha);
}

bool AuthWindowWidget::errorDetailFitsOneLine(const std::string& text) const {
    // Measured in the detail's own font, across the bar less its margins.
    const QFontMetrics metrics(latoFont(400, shown_.errorDetailFontSize));
    const int room = width() - 2 * kBarMargin - 16;
    return metrics.horizontalAdvance(qs(text)) <= room;
}

QWidget* AuthWindowWidget::part(AuthPart p) const {
    auto it = parts_.find(p);
    return it == parts_.end() ? nullptr : it->second;
}

void AuthWindowWidget::setText(AuthPart p, const std::string& text) {
    if (auto it = groupLabels_.find(p); it != groupLabels_.end()) {
        it->second->setText(qs(text));
        return;
    }
    QWidget* w = part(p);
    if (auto* field = qobject_cast<QLineEdit*>(w)) {
        field->setText(qs(text));
    } else if (auto* mixed = qobject_cast<MixedNSTextFieldWithHyperlink*>(w)) {
        // The notice's one line: a store's own words may run longer, and end in an ellipsis.
        if (p == AuthPart::yellowNotificationBarLowerText) {
            mixed->applyPlainText(
                QFontMetrics(mixed->font()).elidedText(qs(text), Qt::ElideRight, mixed->width() - 4).toStdString());
        } else {
            mixed->applyPlainText(text);
        }
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(qs(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        // A button reads "&" as its shortcut mark.
        button->setText(qs(text).replace(QLatin1Char('&'), QStringLiteral("&&")));
    }
}

std::string AuthWindowWidget::text(AuthPart p) const {
    if (auto it = groupLabels_.find(p); it != groupLabels_.end()) return it->second->text().toStdString();
    QWidget* w = part(p);
    if (auto* field = qobject_cast<QLineEdit*>(w)) return field->text().toStdString();
    if (auto* mixed = qobject_cast<HyperlinkTextField*>(w)) return mixed->stringValue();
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        return button->text().replace(QStringLiteral("&&"), QStringLiteral("&")).toStdString();
    }
    return {};
}

void AuthWindowWidget::setPlaceholder(AuthPart p, const std::string& text) {
    if (auto* field = qobject_cast<QLineEdit*>(part(p))) field->setPlaceholderText(qs(text));
}

void AuthWindowWidget::setHidden(AuthPart p, bool hidden) {
    if (QWidget* w = part(p)) w->setVisible(!hidden);
}

void AuthWindowWidget::setEnabled(AuthPart p, bool enabled) {
    if (QWidget* w = part(p)) w->setEnabled(enabled);
}

void AuthWindowWidget::applyOpacity(QWidget* widget, double alpha) {
    if (alpha >= 1.0) {
        widget->setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(alpha);
}

void AuthWindowWidget::setAlpha(AuthPart p, double value) {
    QWidget* w = part(p);
    if (!w) return;
    alpha_[p] = value;
    if (p == AuthPart::errorNotificationsBox) shown_.errorAlpha = value;
    if (p == AuthPart::yellowNotificationBar) shown_.yellowAlpha = value;
    applyOpacity(w, value);
}

double AuthWindowWidget::alpha(AuthPart p) const {
    auto it = alpha_.find(p);
    return it == alpha_.end() ? 1.0 : it->second;
}

void AuthWindowWidget::setImage(AuthPart p, const std::string& imageName) {
    if (auto* label = qobject_cast<QLabel*>(part(p))) {
        label->setPixmap(QPixmap::fromImage(kitImage(imageName, {20, 20}, devicePixelRatioF())));
    }
}

void AuthWindowWidget::focusField(AuthPart field) {
    if (QWidget* w = part(field)) w->setFocus(Qt::OtherFocusReason);
}

void AuthWindowWidget::clearFocus() { mainView_->setFocus(Qt::OtherFocusReason); }

void AuthWindowWidget::setSpinning(bool spinning) {
    if (spinning) {
        spinner_->startRotationAnimation();
    } else {
        spinner_->stopRotationAnimation();
    }
}

void AuthWindowWidget::setBarLayout(const AuthBarLayout& layout) {
    if (animation_) animation_->stop();
    shown_ = layout;
    alpha_[AuthPart::errorNotificationsBox] = layout.errorAlpha;
    alpha_[AuthPart::yellowNotificationBar] = layout.yellowAlpha;
    relayout();
}

void AuthWindowWidget::animateBarLayout(const AuthBarLayout& layout, int durationMs) {
    if (animation_) animation_->stop();
    from_ = shown_;
    to_ = layout;
    alpha_[AuthPart::errorNotificationsBox] = layout.errorAlpha;
    alpha_[AuthPart::yellowNotificationBar] = layout.yellowAlpha;
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(durationMs);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& t) {
        shown_ = interpolate(from_, to_, t.toDouble());
        relayout();
    });
    connect(animation, &QVariantAnimation::finished, this, [this] {
        shown_ = to_;
        relayout();
    });
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

bool AuthWindowWidget::showEnterprisePage() {
    if (!makePage_) return false;
    QWidget* page = makePage_(this);
    if (!page) return false;
    page_ = page;
    mainView_->hide();
    page->setGeometry(rect());
    page->show();
    // The page's SIGN IN button takes Return.
    page->setFocus(Qt::OtherFocusReason);
    return true;
}

}  // namespace hw
