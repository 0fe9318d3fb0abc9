#include "view/keyboard_focus_ring.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QRadioButton>
#include <QStyle>
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
constexpr char kHugsText[] = "hw_focusRingHugsText";
constexpr int kTextPadding = 4;

// Where the ring goes around the target, in the target's coordinates.
QRect ringedArea(const QWidget& target) {
    const QVariant hug = target.property(kHugsText);
    const auto* button = qobject_cast<const QAbstractButton*>(&target);
    if (!hug.isValid() || !button || button->text().isEmpty()) return target.rect();
    const QFontMetrics metrics(button->font());
    const QSize text(metrics.horizontalAdvance(button->text()) + 2 * kTextPadding, metrics.height() + kTextPadding);
    const auto alignment = Qt::Alignment(hug.toInt());
    QRect area = QStyle::alignedRect(button->layoutDirection(), alignment | Qt::AlignVCenter, text, target.rect());
    // Words flush with an edge keep the padding on both sides.
    if (alignment & Qt::AlignLeft) area.translate(-kTextPadding, 0);
    if (alignment & Qt::AlignRight) area.translate(kTextPadding, 0);
    return area;
}
}  // namespace

void setFocusRingHugsText(QWidget& link, Qt::Alignment alignment) {
    link.setProperty(kHugsText, int(alignment & Qt::AlignHorizontal_Mask));
}

bool focusRingHugsText(const QWidget& widget) { return widget.property(kHugsText).isValid(); }

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

QRect KeyboardFocusRing::ringGeometry() const { return ring_ && ring_->isVisible() ? ring_->geometry() : QRect(); }

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
            for (const auto& carrier : carriers_)
                if (watched == carrier) place();
            break;
        default: break;
    }
    return QObject::eventFilter(watched, event);
}

void KeyboardFocusRing::follow(QWidget* target) {
    if (target_ != target) {
        for (const auto& carrier : carriers_)
            if (carrier) carrier->removeEventFilter(this);
        carriers_.clear();
        // Its moves and size changes carry the ring along, and those of what
        // holds it: a bar that slides in takes its link with it.
        for (QWidget* w = target; w && !w->isWindow(); w = w->parentWidget()) {
            w->installEventFilter(this);
            carriers_.emplace_back(w);
        }
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
    const QRect area = ringedArea(*target);
    QRect ring = QRect(target->mapTo(window, area.topLeft()), area.size()).adjusted(-kGap, -kGap, kGap, kGap);
    // Whole inside the window: a control at its edge keeps a closed ring.
    ring = ring.intersected(window->rect());
    ring_->setGeometry(ring);
    ring_->raise();
    ring_->show();
}

}  // namespace hw
