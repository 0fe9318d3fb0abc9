#include "windows/main/widgets/main_window_small_views.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include "view/kit_color.h"
#include "view/kit_images.h"

namespace hw {

LocationsMainViewContainer::LocationsMainViewContainer(QWidget* parent) : QWidget(parent) {}

void LocationsMainViewContainer::paintEvent(QPaintEvent* event) {
    QPainter(this).fillRect(event->rect(), kitColor("#1f2022"));
}

void LocationsMainViewContainer::mousePressEvent(QMouseEvent* event) {
    if (mouseDownHandler) {
        mouseDownHandler();
        return;
    }
    QWidget::mousePressEvent(event);
}

NoInternetConnectionOverlayView::NoInternetConnectionOverlayView(QWidget* parent) : QWidget(parent) { hide(); }

void NoInternetConnectionOverlayView::paintEvent(QPaintEvent* event) {
    QPainter(this).fillRect(event->rect(), kitColor("#FFFFFF"));
}

MainViewFlagImage::MainViewFlagImage(QWidget* parent) : QWidget(parent) {
    restoreCursor();
    // A click on the flag is a control: the keyboard reaches it and presses it too.
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_TranslucentBackground);
}

void MainViewFlagImage::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) && mouseDownHandler) {
        event->accept();
        auto handler = mouseDownHandler;
        handler();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MainViewFlagImage::restoreCursor() { setCursor(Qt::PointingHandCursor); }

void MainViewFlagImage::setImage(const QImage& image) {
    image_ = image;
    update();
}

void MainViewFlagImage::runScale(double from, double to) {
    if (!animation_) {
        animation_ = new QVariantAnimation(this);
        animation_->setDuration(200);
        connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
            scale_ = v.toDouble();
            update();
        });
    }
    animation_->stop();
    animation_->setStartValue(from);
    animation_->setEndValue(to);
    scale_ = from;
    animation_->start();
}

void MainViewFlagImage::animateAppearing() { runScale(0.01, 1.0); }

void MainViewFlagImage::animateDisappearing() { runScale(1.0, 0.01); }

void MainViewFlagImage::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c = QRectF(rect()).center();
    p.translate(c);
    p.scale(scale_, scale_);
    p.translate(-c);
    // A light round frame, as the flags of the list have.
    const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawEllipse(frame.translated(0, 1));
    p.setBrush(kitColor("#FFFFFF"));
    p.drawEllipse(frame);
    QPainterPath clip;
    clip.addEllipse(frame.adjusted(2, 2, -2, -2));
    p.setClipPath(clip);
    p.drawImage(frame.adjusted(2, 2, -2, -2), image_);
}

void MainViewFlagImage::mousePressEvent(QMouseEvent* event) {
    if (mouseDownHandler) {
        // A copy: the handler may clear itself by closing the window.
        auto handler = mouseDownHandler;
        handler();
        return;
    }
    QWidget::mousePressEvent(event);
}

FlagLoadingRing::FlagLoadingRing(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void FlagLoadingRing::startRotationAnimation() {
    if (!spin_) {
        spin_ = new QVariantAnimation(this);
        spin_->setStartValue(0.0);
        spin_->setEndValue(360.0);
        spin_->setDuration(700);
        spin_->setLoopCount(-1);
        connect(spin_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
            angle_ = v.toDouble();
            update();
        });
    }
    show();
    spin_->stop();
    spin_->start();
}

void FlagLoadingRing::stopRotationAnimation() {
    if (spin_) spin_->stop();
    hide();
}

bool FlagLoadingRing::isSpinning() const { return spin_ && spin_->state() == QAbstractAnimation::Running; }

void FlagLoadingRing::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c = QRectF(rect()).center();
    p.translate(c);
    p.rotate(angle_);
    p.translate(-c);
    if (!drawKitImage(p, "Flag_spinner", QRectF(rect()))) {
        p.setPen(QPen(kitColor("#25aae7"), 3));
        p.drawArc(QRectF(rect()).adjusted(2, 2, -2, -2), 0, 270 * 16);
    }
}

}  // namespace hw
