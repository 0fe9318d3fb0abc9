#include "windows/details_pane/widgets/connect_button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

#include "view/kit_fonts.h"
#include "view/kit_images.h"
#include "windows/details_pane/connect_button_model.h"

namespace hw {

ConnectButton::ConnectButton(QWidget* parent) : NSButtonWithHandCursor(parent) {
    setMouseTracking(true);
    setFlat(true);
    setFixedSize(sizeHint());
    // The key presses the button wherever the focus is in its window; the
    // tooltip names it beside what the button does now.
    auto* shortcut = new QShortcut(connectShortcut(), this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this] {
        if (isVisible() && isEnabled()) animateClick();
    });
}

QKeySequence ConnectButton::connectShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_Return); }

bool ConnectButton::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && model_) {
        const QString label = QString::fromStdString(model_->getCurrentButtonLabel()).trimmed();
        setToolTip(label.isEmpty() ? QString()
                                   : label.left(1).toUpper() + label.mid(1).toLower() + QStringLiteral(" (") +
                                         connectShortcut().toString(QKeySequence::NativeText) + QStringLiteral(")"));
    }
    return NSButtonWithHandCursor::event(event);
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
