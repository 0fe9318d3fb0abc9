#include "windows/update/widgets/auto_update_window_widget.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QTimer>
#include <cmath>

#include "texts/locale_data.h"
#include "view/kit_color.h"
#include "view/kit_controls.h"
#include "view/kit_fonts.h"
#include "view/kit_window.h"
#include "view/window_view.h"

namespace hw {

namespace {

constexpr int kMargin = 24;
constexpr int kIconSize = 64;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 30;
constexpr int kButtonTop = 102;

// The application's mark: a shield with a check, drawn here so that the
// window needs no image file.
QPixmap applicationIcon(qreal ratio) {
    QPixmap pixmap(QSize(kIconSize, kIconSize) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shield;
    shield.moveTo(32, 4);
    shield.cubicTo(40, 10, 50, 12, 58, 12);
    shield.cubicTo(58, 38, 50, 52, 32, 60);
    shield.cubicTo(14, 52, 6, 38, 6, 12);
    shield.cubicTo(14, 12, 24, 10, 32, 4);
    QLinearGradient fill(0, 4, 0, 60);
    fill.setColorAt(0, kitColor("#2F9BF0"));
    fill.setColorAt(1, kitColor("#1460B8"));
    p.fillPath(shield, fill);
    QPen pen(kitColor("#FFFFFF"), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.drawPolyline(QPolygonF({QPointF(20, 32), QPointF(29, 41), QPointF(45, 24)}));
    return pixmap;
}

QLabel* makeLabel(QWidget* parent, const QFont& font, const QRect& geometry) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setGeometry(geometry);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

}  // namespace

AutoUpdateWindowWidget::AutoUpdateWindowWidget(QWidget* parent) : QDialog(parent) {
    setObjectName("AutoUpdateWindow");
    setWindowTitle(QStringLiteral("Software Update"));
    setFixedSize(kWidth, kHeight);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kitColor("#FFFFFF"));
    setPalette(palette);
    setAutoFillBackground(true);
    const int contentWidth = kWidth - 2 * kMargin;

    appIconImage_ = new QLabel(this);
    appIconImage_->setGeometry(kMargin, 20, kIconSize, kIconSize);
    confirmUpdateMessage_ =
        makeLabel(this, latoFont(700, 16), QRect(kMargin + kIconSize + 18, 20, contentWidth - kIconSize - 18, kIconSize));
    statusMessage_ = makeLabel(this, latoFont(700, 14), QRect(kMargin, 13, contentWidth, 22));
    statusMessage_->setWordWrap(false);
    progressIndicator_ = new QProgressBar(this);
    progressIndicator_->setGeometry(kMargin, 60, contentWidth, 12);
    progressIndicator_->setRange(0, 100);
    progressIndicator_->setTextVisible(false);
    updateInstallInstructionsText_ = makeLabel(this, latoFont(400, 13), QRect(kMargin, 42, contentWidth, 48));
    updateInstallInstructionsText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    updateInstallInstructionsText_->setText(
        QStringLiteral("Press Restart to install the new version. Havenway closes, updates itself and opens again."));
    failedToDownloadMessage_ = makeLabel(this, latoFont(400, 13), QRect(kMargin, 42, contentWidth, 48));
    failedToDownloadMessage_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    failedToDownloadMessage_->setText(QString::fromStdString(LocaleData::auto_update_failed_to_download_text()));
    for (auto* label : {confirmUpdateMessage_, statusMessage_, updateInstallInstructionsText_, failedToDownloadMessage_}) {
        setTextColor(label, kitColor("#000000"));
    }

    cancelButton_ = new NSButtonWithHandCursor(QString::fromStdString(LocaleData::auto_update_cancel_button()), this);
    cancelButton_->setGeometry(kWidth - kMargin - 2 * kButtonWidth - 10, kButtonTop, kButtonWidth, kButtonHeight);
    cancelButton_->setAutoDefault(false);
    installButton_ = new NSButtonWithHandCursor(QString::fromStdString(LocaleData::auto_update_install_button()), this);
    installButton_->setGeometry(kWidth - kMargin - kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight);
    installButton_->setDefault(true);
    connect(installButton_, &QPushButton::clicked, this, [this] {
        if (onUpdate_) onUpdate_();
    });
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        if (onCancel_) onCancel_();
    });
}

AutoUpdateWindowWidget::~AutoUpdateWindowWidget() = default;

void AutoUpdateWindowWidget::setStatusMessageTop(double top) {
    statusMessage_->move(kMargin, static_cast<int>(std::lround(top)));
}
void AutoUpdateWindowWidget::setStatusMessage(const std::string& text) {
    statusMessage_->setText(QString::fromStdString(text));
}
void AutoUpdateWindowWidget::setStatusMessageColor(const Color& color) { setTextColor(statusMessage_, toQColor(color)); }
void AutoUpdateWindowWidget::setStatusMessageHidden(bool hidden) { statusMessage_->setHidden(hidden); }
void AutoUpdateWindowWidget::setProgressValue(double value) {
    progressIndicator_->setValue(static_cast<int>(std::lround(std::isfinite(value) ? value : 0.0)));
}
void AutoUpdateWindowWidget::setProgressHidden(bool hidden) { progressIndicator_->setHidden(hidden); }
void AutoUpdateWindowWidget::setInstallButtonTitle(const std::string& title) {
    installButton_->setText(QString::fromStdString(title));
}
void AutoUpdateWindowWidget::setInstallButtonEnabled(bool enabled) { installButton_->setEnabled(enabled); }
void AutoUpdateWindowWidget::setAppIconHidden(bool hidden) { appIconImage_->setHidden(hidden); }
void AutoUpdateWindowWidget::showApplicationIcon() { appIconImage_->setPixmap(applicationIcon(devicePixelRatioF())); }
void AutoUpdateWindowWidget::setConfirmUpdateMessage(const std::string& text) {
    confirmUpdateMessage_->setText(QString::fromStdString(text));
}
void AutoUpdateWindowWidget::setConfirmUpdateMessageHidden(bool hidden) { confirmUpdateMessage_->setHidden(hidden); }
void AutoUpdateWindowWidget::setInstallInstructionsHidden(bool hidden) {
    updateInstallInstructionsText_->setHidden(hidden);
}
void AutoUpdateWindowWidget::setFailedToDownloadMessageHidden(bool hidden) {
    failedToDownloadMessage_->setHidden(hidden);
}
void AutoUpdateWindowWidget::setFailedToDownloadMessage(const std::string& text) {
    failedToDownloadMessage_->setText(QString::fromStdString(text));
}
void AutoUpdateWindowWidget::setInstallButtonHidden(bool hidden) {
    installButton_->setHidden(hidden);
    // Alone, the other button takes the corner and the Return key.
    cancelButton_->move(hidden ? installButton_->x() : kWidth - kMargin - 2 * kButtonWidth - 10, kButtonTop);
    cancelButton_->setDefault(hidden);
}
void AutoUpdateWindowWidget::setCancelButtonTitle(const std::string& title) {
    cancelButton_->setText(QString::fromStdString(title));
}

void AutoUpdateWindowWidget::showCentered() {
    if (isSheet()) return;
    if (parentWidget()) setParent(nullptr, Qt::Dialog);
    setWindowModality(Qt::NonModal);
    setFrameOriginToPositionWindowInCenterOfScreen(*this);
    show();
    raise();
    activateWindow();
}

void AutoUpdateWindowWidget::beginSheet(WindowView& parent, std::function<void()> ended) {
    if (isSheet()) endSheet();
    auto* host = dynamic_cast<QWidget*>(&parent);
    setParent(host ? host->window() : nullptr, Qt::Dialog);
    setWindowModality(host ? Qt::WindowModal : Qt::ApplicationModal);
    sheetEnded_ = ended ? std::move(ended) : [] {};
    if (host) {
        // Dropped from the parent's top edge, as a sheet is.
        const QRect frame = host->window()->geometry();
        move(frame.x() + (frame.width() - width()) / 2, frame.y());
    } else {
        setFrameOriginToPositionWindowInCenterOfScreen(*this);
    }
    show();
    raise();
    activateWindow();
}

void AutoUpdateWindowWidget::endSheet() {
    if (!isSheet()) return;
    auto ended = std::move(sheetEnded_);
    sheetEnded_ = nullptr;
    hide();
    // Held by its parent only while it is a sheet: the controller owns it.
    setParent(nullptr, Qt::Dialog);
    QTimer::singleShot(0, qApp, std::move(ended));
}

void AutoUpdateWindowWidget::orderOut() { hide(); }

void AutoUpdateWindowWidget::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter p(this);
    p.setPen(kitColor("#B4B4B4"));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void AutoUpdateWindowWidget::setActions(std::function<void()> onUpdateButton, std::function<void()> onCancelButton) {
    onUpdate_ = std::move(onUpdateButton);
    onCancel_ = std::move(onCancelButton);
}

void AutoUpdateWindowWidget::reject() {
    if (onCancel_) onCancel_();
    if (isVisible() && !isSheet()) hide();
}

}  // namespace hw
