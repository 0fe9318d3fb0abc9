#pragma once
#include <QObject>
#include <QPointer>
#include <vector>
#include <QWidget>

class QKeyEvent;

namespace hw {

// Shows where the keyboard is, and only once the keyboard moved it: a ring
// around the focused control after Tab, Shift+Tab or an arrow key, gone at
// the next mouse press, so that windows used with the mouse look as drawn.
// It also lets Return and Enter press the focused button, as Space does.
class KeyboardFocusRing : public QObject {
    Q_OBJECT
public:
    explicit KeyboardFocusRing(QObject* parent = nullptr);
    ~KeyboardFocusRing() override;
    // The one the application made; null in processes without one.
    static KeyboardFocusRing* instance();
    // Follows the keyboard in the top-level window (its keys and clicks).
    void watch(QWidget& window);

    // The control the ring surrounds now; null while hidden.
    QWidget* ringedWidget() const;
    // Where the ring is drawn, in its window; empty while hidden.
    QRect ringGeometry() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(QWidget* target);
    bool keyPressed(QKeyEvent& key);
    void place();

    bool fromKeyboard_ = false;
    QPointer<QWidget> target_;
    // The target and what holds it inside its window: any of them may move.
    std::vector<QPointer<QWidget>> carriers_;
    QPointer<QWidget> ring_;
};

// Whether Return or Enter on the control presses it: buttons that are not
// check boxes or radio buttons.
bool pressesOnReturn(const QWidget& widget);

// A link laid out wider than its words (a row of the window's width): the
// ring goes around its text, placed as the text is aligned.
void setFocusRingHugsText(QWidget& link, Qt::Alignment alignment);
bool focusRingHugsText(const QWidget& widget);

}  // namespace hw
