#pragma once
#include <QColor>
#include <QFrame>

namespace hw {

// A small frameless window anchored to a rectangle of its owner. A popover
// closes on a click outside it; a tooltip leaves the mouse to its owner.
class KitPopover : public QFrame {
    Q_OBJECT
public:
    enum class Kind { Popover, Tooltip };
    enum class Edge { Below, Above };

    explicit KitPopover(Kind kind = Kind::Popover, QWidget* owner = nullptr);

    // Puts the content inside, with a margin.
    void setContent(QWidget* content, int margin = 12);
    void setColors(const QColor& background, const QColor& border);

    // Shows it next to the rectangle (in the owner's coordinates), centred on
    // it, on the preferred side unless the screen has no room there.
    void showRelativeTo(QWidget& owner, const QRect& anchor, Edge preferred = Edge::Below);

    // Where it would go for an anchor on a screen area, in global coordinates.
    static QPoint placement(const QSize& size, const QRect& globalAnchor, const QRect& screen, Edge preferred);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor background_;
    QColor border_;
};

}  // namespace hw
