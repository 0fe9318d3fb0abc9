#pragma once
#include <QColor>
#include <QRectF>
#include <QSizeF>
#include <QWidget>
#include <functional>
#include <vector>

class QPainter;

namespace hw {

// Where the dots go: pages × diameter + (pages − 1) × spacing wide, centred
// in the bounds with the origin floored to whole pixels.
struct PageDotsLayout {
    static QSizeF intrinsicSize(long pages, double diameter, double spacing);
    static std::vector<QRectF> dotRects(long pages, double diameter, double spacing, const QRectF& bounds);
};

class BFPageControl;

class BFPageControlDelegate {
public:
    virtual ~BFPageControlDelegate() = default;
    virtual void pageControlDidSelectPageAtIndex(BFPageControl& control, long index) = 0;
};

// A row of page dots; a click on a dot makes it current and tells the delegate.
class BFPageControl : public QWidget {
    Q_OBJECT
public:
    // Draws one dot: its rectangle, the control, selected, highlighted.
    using DrawingBlock = std::function<void(QPainter&, const QRectF&, BFPageControl&, bool selected, bool highlighted)>;

    explicit BFPageControl(QWidget* parent = nullptr);

    BFPageControlDelegate* delegate = nullptr;  // not owned

    void setNumberOfPages(long pages);
    long numberOfPages() const { return pages_; }
    void setIndicatorDiameterSize(double diameter);
    double indicatorDiameterSize() const { return diameter_; }
    void setIndicatorMargin(double margin);
    double indicatorMargin() const { return margin_; }
    void setCurrentPage(long page);
    long currentPage() const { return current_; }
    void setDrawingBlock(DrawingBlock block);
    void setColors(const QColor& selected, const QColor& unselected, const QColor& highlight);

    std::vector<QRectF> dotRects() const;
    // The dot under the point, or -1.
    long dotAt(const QPointF& point) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void relayout();

    long pages_ = 0;
    double diameter_ = 10.0;
    double margin_ = 5.0;
    long current_ = 0;
    long pressed_ = -1;
    DrawingBlock drawingBlock_;
    QColor selected_{QStringLiteral("#3e88ff")};
    QColor unselected_{200, 203, 208};
    QColor highlight_{140, 170, 220};
};

}  // namespace hw
