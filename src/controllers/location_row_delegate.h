#pragma once
#include <QStyledItemDelegate>

namespace hw {

// Paints the rows of a locations table (Automatic, group and location rows;
// no widget per row) and knows where a row's star sits.
class LocationRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The star's click area inside a location row's rectangle.
    static QRect starHitRect(const QRect& row);
    static QRect flagRect(const QRect& row);
};

}  // namespace hw
