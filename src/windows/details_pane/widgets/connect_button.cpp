#include "windows/details_pane/widgets/connect_button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include "view/kit_fonts.h"
#include "view/kit_images.h"
#include "windows/details_pane/connect_button_model.h"

namespace hw {

ConnectButton::ConnectButton(QWidget* parent) : NSButtonWithHandCursor(parent) {
    setMouseTracking(true);
    setFlat(true);
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::NoFocus);
}

QSize ConnectButton::sizeHint() const {
    return {int(ConnectButtonModel::BUTTON_WIDTH), int(ConnectButtonModel::BUTTON_HEIGHT)};
}

void ConnectButton::bind(ConnectButtonModel* model) {
    model_ = model;
    update();
}

QRectF ConnectButton::titleRect() const {
    if (!model_) return rect();
    return QRectF(rect()).translated(-model_->cell().buttonLabelOffsetX, -model_->cell().buttonLabelOffsetY);
}

void ConnectButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!model_) return;
    drawKitImage(p, model_->backgroundImageName(), rect());
    p.setPen(Qt::white);
    p.setFont(latoFont(700, 14));
    // Blanks padding a label would push it off the centre of its half.
    p.drawText(titleRect(), Qt::AlignCenter, QString::fromStdString(model_->getCurrentButtonLabel()).trimmed());
}

void ConnectButton::enterEvent(QEnterEvent* event) {
    NSButtonWithHandCursor::enterEvent(event);
    pointerAt(event->position());
}

void ConnectButton::mouseMoveEvent(QMouseEvent* event) {
    NSButtonWithHandCursor::mouseMoveEvent(event);
    pointerAt(event->position());
}

void ConnectButton::leaveEvent(QEvent* event) {
    NSButtonWithHandCursor::leaveEvent(event);
    if (inBand_ && model_) model_->mouseExited();
    inBand_ = false;
}

void ConnectButton::pointerAt(QPointF p) {
    if (!model_) return;
    const bool inside = ConnectButtonModel::inHoverBand({p.x(), p.y()}, width()) && rect().contains(p.toPoint());
    if (inside && !inBand_) {
        model_->mouseEntered({p.x(), p.y()});
    } else if (inside) {
        model_->mouseMoved({p.x(), p.y()});
    } else if (inBand_) {
        model_->mouseExited();
    }
    inBand_ = inside;
}

}  // namespace hw
