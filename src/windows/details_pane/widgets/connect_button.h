#pragma once
#include <QKeySequence>

#include "view/kit_controls.h"

namespace hw {

class ConnectButtonModel;

// The large connect button: its face image and a white title moved by the
// cell's offsets; the pointer goes to the model's hover machine while it is
// inside the hover band.
class ConnectButton final : public NSButtonWithHandCursor {
    Q_OBJECT
public:
    explicit ConnectButton(QWidget* parent = nullptr);
    void bind(ConnectButtonModel* model);
    // Where the title is drawn, in the button's coordinates.
    QRectF titleRect() const;
    QSize sizeHint() const override;
    // Presses the button from anywhere in its window.
    static QKeySequence connectShortcut();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void pointerAt(QPointF p);
    ConnectButtonModel* model_ = nullptr;
    bool inBand_ = false;
};

// The change-location control of the pane; nothing of its own.
class ChangeLocationButton final : public NSButtonWithHandCursor {
    Q_OBJECT
public:
    using NSButtonWithHandCursor::NSButtonWithHandCursor;
};

}  // namespace hw
