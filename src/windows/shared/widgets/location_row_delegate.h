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

    // ---- Locations window ----
    // Location titles in the window's own style, emphasising the first match
    // of this text (plain when empty).
    void setTitleHighlight(const QString& searchText) {
        highlightTitles_ = true;
        highlight_ = searchText;
    }
    // The Automatic row carries an information icon.
    void setShowsAutomaticInfoIcon(bool shows) { infoIcon_ = shows; }
    static QRect infoIconRect(const QRect& row);
    // ---- end locations window ----

private:
    void drawHighlightedTitle(QPainter& p, const QRect& r, const QString& title) const;
    void drawInfoIcon(QPainter& p, const QRect& row) const;

    bool highlightTitles_ = false;
    QString highlight_;
    bool infoIcon_ = false;
};

}  // namespace hw
