#include "windows/sign_up/widgets/free_trial_sign_up_window_widget.h"

#include <QCheckBox>
#include <algorithm>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVariantAnimation>

#include "texts/locale_data.h"
#include "view/activity_indicator_with_image.h"
#include "view/hyperlink_text_field.h"
#include "view/keyboard_focus_ring.h"
#include "view/kit_color.h"
#include "view/kit_controls.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"
#include "view/plain_text_controls.h"
#include "windows/login/widgets/login_window_views.h"
#include "windows/sign_up/free_trial_sign_up_window_controller.h"

static void initSignUpResources() {
    Q_INIT_RESOURCE(login_images);
    Q_INIT_RESOURCE(onboarding);
}

namespace hw {
namespace {

constexpr int kMargin = 30;
constexpr int kFieldRow = 48;
constexpr int kButtonHeight = 44;
constexpr int kErrorBarHeight = 48;
constexpr int kFooter = 56;

QString qs(const std::string& s) { return QString::fromStdString(s); }

QPushButton* makeButton(QWidget* parent) {
    auto* button = new NSButtonWithHandCursor(parent);
    button->setStyleSheet(QStringLiteral("QPushButton{color:#ffffff;background:%1;border:none;border-radius:4px;}"
                                         "QPushButton:pressed{background:%2;}QPushButton:disabled{background:%3;}")
                              .arg(kitColor("#303334").name(), kitColor("#4b4e51").name(),
                                   kitColor("#373a3d").name()));
    return button;
}

QLineEdit* makeField(QWidget* parent, bool concealed) {
    auto* field = new TextFieldWithCustomLineHeight(parent);
    field->setFrame(false);
    field->setFont(latoFont(400, FreeTrialSignUpWindowController::LOGIN_INPUT_FIELDS_FONT_SIZE));
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, kitColor("#efefef"));
    palette.setColor(QPalette::Text, kitColor("#303334"));
    palette.setColor(QPalette::PlaceholderText, kitColor("#8a8f94"));
    field->setPalette(palette);
    if (concealed) field->setEchoMode(QLineEdit::Password);
    return field;
}

void setOpacity(QWidget* widget, double alpha) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(alpha);
}

double lerp(double a, double b, double t) { return a + (b - a) * t; }

}  // namespace

SignUpWindowGeometry signUpWindowGeometry(const SignUpErrorBarLayout& layout, QSize window) {
    const int w = window.width();
    const int h = window.height();
    const int inner = w - 2 * kMargin;
    // The offsets grow downwards: the bar coming in pushes the form down.
    SignUpWindowGeometry g;
    g.logo = QRect(0, qRound(30 + layout.logoTopSpacing), w, 64);
    g.errorBar = QRect(20, qRound(layout.barTopSpacing), w - 40, kErrorBarHeight);
    const int center = qRound(h / 2.0 + layout.fieldsGroupCenterY);
    g.fieldsGroup = QRect(kMargin, center - kFieldRow, inner, 2 * kFieldRow);
    g.heading = QRect(kMargin, g.fieldsGroup.top() - 42, inner, 30);
    g.optionsRow = QRect(kMargin, g.fieldsGroup.bottom() + 1 + 12, inner, 22);
    return g;
}

FreeTrialSignUpWindowWidget::FreeTrialSignUpWindowWidget() {
    static const bool registered = (initSignUpResources(), true);
    (void)registered;
    setFixedSize(kSize);
    build();
    relayout();
}

FreeTrialSignUpWindowWidget::~FreeTrialSignUpWindowWidget() {
    if (animation_) animation_->stop();
}

void FreeTrialSignUpWindowWidget::build() {
    auto* root = new FreeTrialSignUpView(this);
    root->setGeometry(rect());
    root->setFocusPolicy(Qt::ClickFocus);
    const qreal dpr = devicePixelRatioF();

    auto* logo = new QLabel(root);
    logo->setPixmap(QPixmap::fromImage(kitImage("Login_logo", {64, 64}, dpr)));
    logo->setAlignment(Qt::AlignCenter);
    parts_[SignUpPart::logoImage] = logo;

    auto* heading = makePlainLabel(root, latoFont(900, 24), "#FFFFFF", Qt::AlignCenter);
    heading->setText(qs(LocaleData::free_trial_sign_up_enter_your_details_label()));
    parts_[SignUpPart::enterYourDetailsLabel] = heading;

    auto* group = new LoginViewInputFieldsBackground(root);
    parts_[SignUpPart::loginFieldsGroup] = group;
    auto* email = makeField(group, false);
    auto* password = makeField(group, true);
    auto* revealed = makeField(group, false);
    revealed->hide();
    parts_[SignUpPart::emailAddressField] = email;
    parts_[SignUpPart::passwordField] = password;
    parts_[SignUpPart::passwordRevealedField] = revealed;
    for (auto [field, part] : {std::pair{email, SignUpPart::emailAddressField},
                               std::pair{password, SignUpPart::passwordField},
                               std::pair{revealed, SignUpPart::passwordRevealedField}}) {
        connect(field, &QLineEdit::returnPressed, this, [this, part = part] {
            if (actions_) actions_->onEnterPressed(part);
        });
    }
    auto* separator = new QWidget(group);
    separator->setObjectName("separator");
    separator->setStyleSheet(QStringLiteral("background:%1;").arg(kitColor("#d6d6d6").name()));
    auto* reveal = makeFlatLink(group, "#303334");
    parts_[SignUpPart::revealPasswordButton] = reveal;
    connect(reveal, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onShowPasswordButtonClick();
    });

    // The terms row belongs to the form: it goes with the fields group.
    termsRow_ = new QWidget(root);
    auto* box = new QCheckBox(termsRow_);
    box->setText(qs(LocaleData::free_trial_sign_up_terms_agree_checkbox()));
    box->setFont(latoFont(400, 10));
    box->setCursor(Qt::PointingHandCursor);
    box->setStyleSheet(QStringLiteral("QCheckBox{color:#ffffff;background:transparent;spacing:6px;}"
                                      "QCheckBox::indicator{width:12px;height:12px;border:1px solid #ffffff;"
                                      "border-radius:2px;background:transparent;}"
                                      "QCheckBox::indicator:checked{background:#ffffff;image:url(:/onboarding/Check.svg);}"));
    parts_[SignUpPart::agreeToOurTermsCheckbox] = box;
    auto* tos = makeFlatLink(termsRow_, "#FFFFFF");
    parts_[SignUpPart::termsOfServiceButton] = tos;
    connect(tos, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onToSButtonClick();
    });

    auto* create = makeButton(root);
    parts_[SignUpPart::startFreeButton] = create;
    connect(create, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onStartFreeButtonClicked();
    });
    auto* spinner = new ActivityIndicatorWithImage(create);
    spinner->setImageName("Activity_spinner");
    spinner->hide();
    parts_[SignUpPart::signUpLoadingIndicator] = spinner;

    footer_ = new ColorFillView(kitColor("#FFFFFF"), root);
    auto* existing = makePlainLabel(footer_, latoFont(400, 13), "#303334", Qt::AlignRight | Qt::AlignVCenter);
    existing->setText(qs(LocaleData::free_trial_sign_up_existing_user_label()));
    parts_[SignUpPart::existingUserLabel] = existing;
    auto* logIn = makeFlatLink(footer_, "#52a1ff");
    parts_[SignUpPart::existingUserButton] = logIn;
    // A link as wide as the rest of its row: the keyboard's ring goes round its words.
    setFocusRingHugsText(*logIn, Qt::AlignLeft);
    connect(logIn, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onLogInButtonClick();
    });

    // The verify-e-mail screen.
    auto* verify = makePlainLabel(root, latoFont(900, 24), "#FFFFFF", Qt::AlignCenter);
    verify->setText(qs(LocaleData::free_trial_sign_up_verify_email_label()));
    parts_[SignUpPart::verifyEmailLabel] = verify;
    auto* envelope = new QLabel(root);
    envelope->setPixmap(QIcon(QStringLiteral(":/onboarding/Envelope.svg")).pixmap(QSize(96, 96), dpr));
    envelope->setAlignment(Qt::AlignCenter);
    parts_[SignUpPart::emailEnvelopeImage] = envelope;
    auto* checking = new ActivityIndicatorWithImage(root);
    checking->setImageName("Activity_spinner");
    parts_[SignUpPart::activityIndicator] = checking;
    auto* sent = makePlainLabel(root, latoFont(400, 13), "#FFFFFF", Qt::AlignCenter);
    sent->setText(qs(LocaleData::free_trial_sign_up_we_sent_verification_label()));
    parts_[SignUpPart::weSentVerificationEmailLabel] = sent;
    parts_[SignUpPart::sent_to_Email_addressField] = makePlainLabel(root, latoFont(700, 14), "#FFFFFF", Qt::AlignCenter);
    auto* inbox = makeButton(root);
    parts_[SignUpPart::checkInboxButton] = inbox;
    connect(inbox, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onCheckInboxButtonClick();
    });
    auto* resend = makeFlatLink(root, "#FFFFFF");
    resend->setFont(latoFont(400, 12));
    resend->setText(qs(LocaleData::free_trial_sign_up_resend_verification_button()));
    parts_[SignUpPart::resendVerificationEmailBar] = resend;
    setFocusRingHugsText(*resend, Qt::AlignHCenter);
    connect(resend, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onResendVerificationEmailClick();
    });
    auto* already = makePlainLabel(root, latoFont(400, 12), "#FFFFFF", Qt::AlignRight | Qt::AlignVCenter);
    already->setText(qs(LocaleData::free_trial_sign_up_already_verified_label()));
    parts_[SignUpPart::alreadyVerifiedLabel] = already;
    auto* clickHere = new ActionLinkLabel("", Color::fromRgba("#18ef8e"), root);
    parts_[SignUpPart::alreadyVerifiedButton] = clickHere;
    clickHere->customLinkClickHandler = [this](const std::string&) {
        if (actions_) actions_->onAlreadyVerifiedLinkClick();
    };

    // The completed screen.
    auto* completed = new QWidget(root);
    parts_[SignUpPart::completedStateBackground] = completed;
    auto* done = new QLabel(completed);
    done->setObjectName("completedImage");
    done->setPixmap(QPixmap::fromImage(kitImage("Sign_up_completed", {120, 120}, dpr)));
    done->setAlignment(Qt::AlignCenter);
    completedUpper_ = makePlainLabel(completed, latoFont(900, 22), "#FFFFFF", Qt::AlignCenter);
    static_cast<QLabel*>(completedUpper_)->setText(qs(LocaleData::free_trial_sign_up_completed_label()));
    completedLower_ = makePlainLabel(completed, latoFont(400, 13), "#FFFFFF", Qt::AlignCenter);
    static_cast<QLabel*>(completedLower_)->setText(qs(LocaleData::free_trial_sign_up_completed_lower_label()));
    auto* proceed = makeButton(root);
    parts_[SignUpPart::startFreeTrialButton] = proceed;
    connect(proceed, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onStartYourFreeTrialButtonClick();
    });

    for (SignUpPart p : {SignUpPart::verifyEmailLabel, SignUpPart::emailEnvelopeImage, SignUpPart::activityIndicator,
                         SignUpPart::weSentVerificationEmailLabel, SignUpPart::sent_to_Email_addressField,
                         SignUpPart::checkInboxButton, SignUpPart::resendVerificationEmailBar,
                         SignUpPart::alreadyVerifiedLabel, SignUpPart::alreadyVerifiedButton,
                         SignUpPart::completedStateBackground, SignUpPart::startFreeTrialButton}) {
        parts_[p]->hide();
    }

    // The error bar never takes clicks, even while faded out.
    errorBar_ = new LoginWindow_ErrorSubview(root);
    errorBar_->setAttribute(Qt::WA_TransparentForMouseEvents);
    errorUpper_ = makePlainLabel(errorBar_, latoFont(700, 13), "#FFFFFF", Qt::AlignCenter);
    errorLower_ = makePlainLabel(errorBar_, latoFont(400, 11), "#FFFFFF", Qt::AlignCenter);
    shown_ = SignUpErrorBarLayout{};
    setOpacity(errorBar_, 0.0);
}

void FreeTrialSignUpWindowWidget::relayout() {
    const int w = width();
    const int h = height();
    const SignUpWindowGeometry g = signUpWindowGeometry(shown_, size());
    part(SignUpPart::logoImage)->setGeometry(g.logo);
    part(SignUpPart::enterYourDetailsLabel)->setGeometry(g.heading);
    part(SignUpPart::loginFieldsGroup)->setGeometry(g.fieldsGroup);
    const int fieldWidth = g.fieldsGroup.width() - 28;
    part(SignUpPart::emailAddressField)->setGeometry(14, 8, fieldWidth, kFieldRow - 16);
    part(SignUpPart::passwordField)->setGeometry(14, kFieldRow + 8, fieldWidth - 56, kFieldRow - 16);
    part(SignUpPart::passwordRevealedField)->setGeometry(14, kFieldRow + 8, fieldWidth - 56, kFieldRow - 16);
    part(SignUpPart::revealPasswordButton)->setGeometry(g.fieldsGroup.width() - 62, kFieldRow + 8, 50, kFieldRow - 16);
    if (auto* separator = part(SignUpPart::loginFieldsGroup)->findChild<QWidget*>("separator")) {
        separator->setGeometry(12, kFieldRow, g.fieldsGroup.width() - 24, 1);
    }
    // The box and its link side by side, centred as one line.
    const QRect options = g.optionsRow;
    termsRow_->setGeometry(options);
    QWidget* box = part(SignUpPart::agreeToOurTermsCheckbox);
    QWidget* tos = part(SignUpPart::termsOfServiceButton);
    const int boxWidth = box->sizeHint().width();
    const int tosWidth = tos->sizeHint().width();
    const int left = std::max(0, (options.width() - boxWidth - 3 - tosWidth) / 2);
    box->setGeometry(left, 0, boxWidth, options.height());
    tos->setGeometry(left + boxWidth + 3, 0, tosWidth, options.height());

    const QRect button(kMargin, options.bottom() + 1 + 36, w - 2 * kMargin, kButtonHeight);
    part(SignUpPart::startFreeButton)->setGeometry(button);
    part(SignUpPart::signUpLoadingIndicator)->setGeometry(button.width() / 2 - 12, button.height() / 2 - 12, 24, 24);
    part(SignUpPart::startFreeTrialButton)->setGeometry(button);

    footer_->setGeometry(0, h - kFooter, w, kFooter);
    const int half = w / 2 + 50;
    part(SignUpPart::existingUserLabel)->setGeometry(0, 0, half, kFooter);
    part(SignUpPart::existingUserButton)->setGeometry(half + 6, 0, w - half - 6, kFooter);
    static_cast<QPushButton*>(part(SignUpPart::existingUserButton))
        ->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;color:%1;padding:0;"
                                       "text-align:left;text-decoration:underline;}")
                            .arg(kitColor("#52a1ff").name()));

    part(SignUpPart::verifyEmailLabel)->setGeometry(kMargin, 130, w - 2 * kMargin, 34);
    part(SignUpPart::emailEnvelopeImage)->setGeometry(0, 186, w, 96);
    part(SignUpPart::activityIndicator)->setGeometry(w / 2 - 16, 218, 32, 32);
    part(SignUpPart::weSentVerificationEmailLabel)->setGeometry(kMargin, 300, w - 2 * kMargin, 20);
    part(SignUpPart::sent_to_Email_addressField)->setGeometry(kMargin, 324, w - 2 * kMargin, 22);
    part(SignUpPart::checkInboxButton)->setGeometry(kMargin, 374, w - 2 * kMargin, kButtonHeight);
    part(SignUpPart::resendVerificationEmailBar)->setGeometry(kMargin, 428, w - 2 * kMargin, 22);
    part(SignUpPart::alreadyVerifiedLabel)->setGeometry(0, 462, w / 2 + 24, 22);
    // The link's text block sits on the label's baseline 2 px lower.
    part(SignUpPart::alreadyVerifiedButton)->setGeometry(w / 2 + 28, 464, w / 2 - 28, 22);

    QWidget* completed = part(SignUpPart::completedStateBackground);
    completed->setGeometry(0, 90, w, 330);
    if (auto* image = completed->findChild<QWidget*>("completedImage")) image->setGeometry(0, 40, w, 120);
    completedUpper_->setGeometry(kMargin, 190, w - 2 * kMargin, 32);
    completedLower_->setGeometry(kMargin, 228, w - 2 * kMargin, 40);

    errorBar_->setGeometry(g.errorBar);
    // A title without a detail line (the terms notice runs over two lines)
    // has the whole bar.
    if (static_cast<QLabel*>(errorLower_)->text().isEmpty()) {
        errorUpper_->setGeometry(8, 0, g.errorBar.width() - 16, g.errorBar.height());
    } else {
        errorUpper_->setGeometry(8, 6, g.errorBar.width() - 16, 18);
    }
    errorLower_->setGeometry(8, 24, g.errorBar.width() - 16, 18);
    setOpacity(errorBar_, shown_.alpha);
}

QWidget* FreeTrialSignUpWindowWidget::part(SignUpPart p) const {
    auto it = parts_.find(p);
    return it == parts_.end() ? nullptr : it->second;
}

void FreeTrialSignUpWindowWidget::setText(SignUpPart p, const std::string& text) {
    QWidget* widget = part(p);
    if (auto* field = qobject_cast<QLineEdit*>(widget)) field->setText(qs(text));
    else if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(qs(text));
    else if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(qs(text));
}

std::string FreeTrialSignUpWindowWidget::text(SignUpPart p) const {
    QWidget* widget = part(p);
    if (auto* field = qobject_cast<QLineEdit*>(widget)) return field->text().toStdString();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
    if (auto* link = qobject_cast<HyperlinkTextField*>(widget)) return link->stringValue();
    return {};
}

void FreeTrialSignUpWindowWidget::setTitle(SignUpPart p, const std::string& title, const SignUpTitleStyle& style) {
    if (auto* link = qobject_cast<ActionLinkLabel*>(part(p))) {
        link->setFont(latoFont(400, style.pointSize));
        link->setTitle(title, style.bold ? 700 : 400, style.underline);
        return;
    }
    auto* button = qobject_cast<QAbstractButton*>(part(p));
    if (!button) return;
    QFont font = latoFont(style.bold ? 700 : 400, style.pointSize);
    font.setUnderline(style.underline);
    button->setFont(font);
    button->setText(qs(title));
    // The terms row is sized to its texts.
    relayout();
}

void FreeTrialSignUpWindowWidget::setPlaceholder(SignUpPart p, const std::string& text) {
    if (auto* field = qobject_cast<QLineEdit*>(part(p))) field->setPlaceholderText(qs(text));
}

void FreeTrialSignUpWindowWidget::setHidden(SignUpPart p, bool hidden) {
    if (QWidget* widget = part(p)) widget->setHidden(hidden);
    // The footer is the existing-user row's ground: it goes with it.
    if (p == SignUpPart::existingUserButton) footer_->setHidden(hidden);
    if (p == SignUpPart::loginFieldsGroup) termsRow_->setHidden(hidden);
    // Check Inbox is part of the verify screen's own layout.
    if (p == SignUpPart::verifyEmailLabel) part(SignUpPart::checkInboxButton)->setHidden(hidden);
}

bool FreeTrialSignUpWindowWidget::isHidden(SignUpPart p) const {
    QWidget* widget = part(p);
    return widget && widget->isHidden();
}

void FreeTrialSignUpWindowWidget::setEnabled(SignUpPart p, bool enabled) {
    if (QWidget* widget = part(p)) widget->setEnabled(enabled);
}

void FreeTrialSignUpWindowWidget::setAnimating(SignUpPart p, bool animating) {
    auto* spinner = qobject_cast<ActivityIndicatorWithImage*>(part(p));
    if (!spinner) return;
    if (animating) spinner->startRotationAnimation();
    else spinner->stopRotationAnimation();
}

bool FreeTrialSignUpWindowWidget::isChecked(SignUpPart p) const {
    auto* box = qobject_cast<QAbstractButton*>(part(p));
    return box && box->isChecked();
}

void FreeTrialSignUpWindowWidget::focus(SignUpPart p) {
    if (QWidget* widget = part(p)) widget->setFocus(Qt::OtherFocusReason);
}

void FreeTrialSignUpWindowWidget::setErrorTexts(const std::string& upper, const std::string& lower) {
    static_cast<QLabel*>(errorUpper_)->setText(qs(upper));
    static_cast<QLabel*>(errorLower_)->setText(qs(lower));
    relayout();
}

void FreeTrialSignUpWindowWidget::setErrorBarLayout(const SignUpErrorBarLayout& layout, int durationMs) {
    if (animation_) animation_->stop();
    if (durationMs <= 0) {
        shown_ = layout;
        relayout();
        return;
    }
    const SignUpErrorBarLayout from = shown_;
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(durationMs);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    connect(animation, &QVariantAnimation::valueChanged, this, [this, from, layout](const QVariant& value) {
        const double t = value.toDouble();
        shown_ = {lerp(from.barTopSpacing, layout.barTopSpacing, t),
                  lerp(from.fieldsGroupCenterY, layout.fieldsGroupCenterY, t),
                  lerp(from.logoTopSpacing, layout.logoTopSpacing, t), lerp(from.alpha, layout.alpha, t)};
        relayout();
    });
    connect(animation, &QVariantAnimation::finished, this, [this, layout] {
        shown_ = layout;
        relayout();
    });
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace hw
