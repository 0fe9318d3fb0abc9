#include "windows/main/widgets/smart_widget_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "windows/main/widgets/main_window_small_views.h"

namespace hw {

namespace {
constexpr int kPad = 12;
constexpr int kIcon = 48;
}  // namespace

SmartWidgetView::SmartWidgetView(QWidget* parent)
    : QWidget(parent),
      backgroundColor(kitColor("#f2f1fa")),
      icon_(new QLabel(this)),
      title_(new ElidedLabel(this)),
      subtitle_(new ElidedLabel(this)),
      subtitleSecondLine_(new ElidedLabel(this)),
      linkButton_(new QPushButton(this)),
      loading_(new FlagLoadingRing(this)) {
    setCursor(Qt::PointingHandCursor);
    icon_->setScaledContents(true);
    icon_->setAttribute(Qt::WA_TransparentForMouseEvents);
    title_->setFont(kitFont("Lato-Bold", 14));
    for (auto* line : {subtitle_, subtitleSecondLine_}) line->setFont(kitFont("Lato-Regular", 12));
    QPalette dark = palette();
    dark.setColor(QPalette::WindowText, kitColor("#1f2022"));
    title_->setPalette(dark);
    dark.setColor(QPalette::WindowText, kitColor("#5b5e62"));
    subtitle_->setPalette(dark);
    subtitleSecondLine_->setPalette(dark);
    for (QWidget* w : {static_cast<QWidget*>(title_), static_cast<QWidget*>(subtitle_),
                       static_cast<QWidget*>(subtitleSecondLine_)})
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
    linkButton_->setFlat(true);
    linkButton_->setCursor(Qt::PointingHandCursor);
    linkButton_->setFont(kitFont("Lato-Bold", 12));
    linkButton_->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; text-align: left; color: %1; }")
                                   .arg(kitColor(kLinkColor).name()));
    connect(linkButton_, &QPushButton::clicked, this, [this] {
        if (mouseDownHandler) mouseDownHandler();
    });
    updateLinkButtonLabel(QStringLiteral("Read more"));
}

void SmartWidgetView::updateLinkButtonLabel(const QString& text) {
    linkButton_->setText(linkButton_->fontMetrics().elidedText(text, Qt::ElideRight, 200));
}

void SmartWidgetView::setLoading(bool loading) {
    if (loading) {
        loading_->startRotationAnimation();
    } else {
        loading_->stopRotationAnimation();
    }
    for (QWidget* w : {static_cast<QWidget*>(icon_), static_cast<QWidget*>(title_), static_cast<QWidget*>(subtitle_),
                       static_cast<QWidget*>(subtitleSecondLine_), static_cast<QWidget*>(linkButton_)})
        w->setHidden(loading);
}

void SmartWidgetView::setIcon(const QImage& icon) { icon_->setPixmap(QPixmap::fromImage(icon)); }

void SmartWidgetView::resizeEvent(QResizeEvent*) {
    const int textLeft = kPad + kIcon + kPad;
    const int textWidth = width() - textLeft - kPad;
    icon_->setGeometry(kPad, (height() - kIcon) / 2, kIcon, kIcon);
    title_->setGeometry(textLeft, 8, textWidth, 20);
    subtitle_->setGeometry(textLeft, 28, textWidth, 16);
    subtitleSecondLine_->setGeometry(textLeft, 44, textWidth, 16);
    linkButton_->setGeometry(textLeft, 62, std::min(textWidth, 200), 18);
    loading_->setGeometry((width() - 24) / 2, (height() - 24) / 2, 24, 24);
}

void SmartWidgetView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 6, 6);
    p.fillPath(path, backgroundColor);
}

void SmartWidgetView::mousePressEvent(QMouseEvent* event) {
    if (mouseDownHandler) {
        mouseDownHandler();
        return;
    }
    QWidget::mousePressEvent(event);
}

}  // namespace hw
