#include "view/keyboard_focus_ring.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QRadioButton>
#include <QWindow>

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

namespace {
KeyboardFocusRing* theRing = nullptr;
}

// Per window rather than on the whole application: a filter there would sit
// in the way of every event of the embedded web page.
KeyboardFocusRing::KeyboardFocusRing(QObject* parent) : QObject(parent) {
    theRing = this;
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        follow(fromKeyboard_ ? now : nullptr);
    });
}

KeyboardFocusRing::~KeyboardFocusRing() {
    if (theRing == this) theRing = nullptr;
    delete ring_.data();
}

KeyboardFocusRing* KeyboardFocusRing::instance() { return theRing; }

void KeyboardFocusRing::watch(QWidget& window) {
    QWindow* handle = window.windowHandle();
    if (!handle || handle->property("hw_keyboard_watched").toBool()) return;
    handle->setProperty("hw_keyboard_watched", true);
    handle->installEventFilter(this);
}

QWidget* KeyboardFocusRing::ringedWidget() const { return ring_ && ring_->isVisible() ? target_.data() : nullptr; }

bool KeyboardFocusRing::keyPressed(QKeyEvent& key) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return false;
    const bool enter = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
    // Dialogs keep Qt's own rule: Return presses their default button.
    if (enter && !key.isAutoRepeat() && key.modifiers() == Qt::NoModifier && pressesOnReturn(*focus) &&
        focus->isEnabled() && !qobject_cast<QDialog*>(focus->window())) {
        static_cast<QAbstractButton*>(focus)->animateClick();
        return true;
    }
    if (navigationKey(key.key()) && !fromKeyboard_) {
        fromKeyboard_ = true;
        follow(focus);
    }
    return false;
}

bool KeyboardFocusRing::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
            if (qobject_cast<QWindow*>(watched)) return keyPressed(*static_cast<QKeyEvent*>(event));
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (fromKeyboard_ && qobject_cast<QWindow*>(watched)) {
                fromKeyboard_ = false;
                follow(nullptr);
            }
            break;
        case QEvent::Hide:
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
    if (target_ != target) {
        if (target_) target_->removeEventFilter(this);
        // Its moves and size changes carry the ring along.
        if (target) target->installEventFilter(this);
    }
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
