#include "view/keyboard_focus_ring.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QRadioButton>

#include "view/kit_color.h"

namespace hw {

namespace {

constexpr int kGap = 3;

// Two tones, so that the ring shows on the dark main window, the blue
// welcome window and the white settings alike.
class RingView : public QWidget {
public:
    explicit RingView(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kitColor("#FFFFFFE6"), 4));
        p.drawRoundedRect(QRectF(rect()).adjusted(2, 2, -2, -2), 5, 5);
        p.setPen(QPen(kitColor("#1A73E8FF"), 2));
        p.drawRoundedRect(QRectF(rect()).adjusted(2, 2, -2, -2), 5, 5);
    }
};

bool navigationKey(int key) {
    switch (key) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right: return true;
        default: return false;
    }
}

}  // namespace

bool pressesOnReturn(const QWidget& widget) {
    return qobject_cast<const QAbstractButton*>(&widget) && !qobject_cast<const QCheckBox*>(&widget) &&
           !qobject_cast<const QRadioButton*>(&widget);
}

KeyboardFocusRing::KeyboardFocusRing(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

KeyboardFocusRing::~KeyboardFocusRing() { delete ring_.data(); }

QWidget* KeyboardFocusRing::ringedWidget() const { return ring_ && ring_->isVisible() ? target_.data() : nullptr; }

bool KeyboardFocusRing::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress: {
            QWidget* focus = QApplication::focusWidget();
            if (watched != focus || !focus) break;
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
            if (enter && !key->isAutoRepeat() && pressesOnReturn(*focus) && focus->isEnabled()) {
                static_cast<QAbstractButton*>(focus)->animateClick();
                return true;
            }
            if (navigationKey(key->key()) && !fromKeyboard_) {
                fromKeyboard_ = true;
                follow(focus);
            }
            break;
        }
        case QEvent::FocusIn: {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
                fromKeyboard_ = true;
            else if (reason == Qt::MouseFocusReason)
                fromKeyboard_ = false;
            if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget == QApplication::focusWidget())
                follow(fromKeyboard_ ? widget : nullptr);
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (fromKeyboard_) {
                fromKeyboard_ = false;
                follow(nullptr);
            }
            break;
        case QEvent::FocusOut:
        case QEvent::Hide:
            if (watched == target_ && !target_->hasFocus()) follow(nullptr);
            else if (watched == target_) place();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
            if (watched == target_) place();
            break;
        default: break;
    }
    return QObject::eventFilter(watched, event);
}

void KeyboardFocusRing::follow(QWidget* target) {
    target_ = target;
    place();
}

void KeyboardFocusRing::place() {
    QWidget* target = target_.data();
    if (!target || !target->isVisible() || target->window() == target) {
        if (ring_) ring_->hide();
        return;
    }
    QWidget* window = target->window();
    if (!ring_ || ring_->parentWidget() != window) {
        delete ring_.data();
        ring_ = new RingView(window);
    }
    const QPoint at = target->mapTo(window, QPoint(0, 0));
    ring_->setGeometry(QRect(at, target->size()).adjusted(-kGap, -kGap, kGap, kGap));
    ring_->raise();
    ring_->show();
}

}  // namespace hw
