#include "windows/shared/widgets/location_row_delegate.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <cmath>

#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "windows/shared/widgets/location_title_highlight.h"
#include "windows/shared/widgets/locations_table_qt_model.h"
#include "windows/shared/widgets/locations_window_views.h"

namespace hw {

namespace {

using Kind = LocationsTableViewModel::RowKind;
constexpr int kTextLeft = 58;
constexpr int kGroupTextLeft = 16;

QPainterPath starPath(const QRectF& box) {
    QPainterPath path;
    const QPointF c = box.center();
    const double outer = box.width() / 2;
    const double inner = outer * 0.45;
    for (int i = 0; i < 10; ++i) {
        const double r = i % 2 ? inner : outer;
        const double a = -M_PI / 2 + i * M_PI / 5;
        const QPointF p(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        if (i == 0) path.moveTo(p); else path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

void drawElided(QPainter& p, const QRect& r, const QString& text, const QFont& font, const QColor& colour) {
    p.setFont(font);
    p.setPen(colour);
    const QFontMetrics metrics(font);
    p.drawText(r, Qt::AlignVCenter | Qt::AlignLeft, metrics.elidedText(text, Qt::ElideRight, r.width()));
}

constexpr int kSelectedBarWidth = 3;

}  // namespace

QRect LocationRowDelegate::starHitRect(const QRect& row) {
    return {row.right() - 40, row.top() + (row.height() - 28) / 2, 32, 28};
}

QRect LocationRowDelegate::flagRect(const QRect& row) { return {row.left() + 16, row.top() + (row.height() - 30) / 2, 30, 30}; }

QSize LocationRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    auto hint = index.data(Qt::SizeHintRole).toSize();
    return {option.rect.width(), hint.height()};
}

void LocationRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    auto& p = *painter;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRect r = option.rect;
    p.fillRect(r, index.data(LocationsTableQtModel::BackgroundRole).value<QColor>());
    const auto kind = static_cast<Kind>(index.data(LocationsTableQtModel::KindRole).toInt());
    const QString title = index.data(Qt::DisplayRole).toString();
    const bool selected = index.data(LocationsTableQtModel::SelectedRole).toBool();
    // The chosen row's shade is close to the others': a bar at its edge marks it.
    if (selected && kind != Kind::group)
        p.fillRect(QRect(r.left(), r.top(), kSelectedBarWidth, r.height()), kitColor("#15A9EA"));

    if (kind == Kind::group) {
        drawElided(p, r.adjusted(kGroupTextLeft, 0, -16, 0), title.toUpper(), kitFont("Lato-Bold", 10),
                   kitColor("#8e9093"));
    } else if (kind == Kind::automatic) {
        // A compass-like mark where the flags sit on the other rows.
        const QRect mark = flagRect(r);
        p.setPen(QPen(kitColor(selected ? "#FFFFFF" : "#BFBFBF"), 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(mark.adjusted(3, 3, -3, -3));
        p.setBrush(kitColor(selected ? "#FFFFFF" : "#BFBFBF"));
        p.drawEllipse(QRectF(mark).center(), 3, 3);
        drawElided(p, r.adjusted(kTextLeft, 0, infoIcon_ ? -44 : -16, 0), title, kitFont("Lato-Semibold", 12),
                   kitColor(selected ? "#FFFFFF" : "#BFBFBF"));
        if (infoIcon_) drawInfoIcon(p, r);
    } else {
        const QRect flag = flagRect(r);
        // No ring until the flag's file has arrived.
        LocationItemFlagImage::drawFlag(p, flag, index.data(LocationsTableQtModel::FlagRole).value<QImage>());
        const QRect star = starHitRect(r);
        const QRect titleRect(r.left() + kTextLeft, r.top(), star.left() - r.left() - kTextLeft - 4, r.height());
        if (highlightTitles_) drawHighlightedTitle(p, titleRect, title);
        else drawElided(p, titleRect, title, kitFont("Lato-Semibold", 12), kitColor("#FFFFFF"));
        const bool favourite = index.data(LocationsTableQtModel::FavoriteRole).toBool();
        const bool enabled = index.data(LocationsTableQtModel::StarEnabledRole).toBool();
        p.setOpacity(enabled ? 1.0 : 0.35);
        const QRectF box(QRectF(star).center() - QPointF(8, 8), QSizeF(16, 16));
        if (favourite) {
            p.setPen(Qt::NoPen);
            p.setBrush(kitColor("#f5c518"));
        } else {
            p.setPen(QPen(kitColor("#8e9093"), 1.4));
            p.setBrush(Qt::NoBrush);
        }
        p.drawPath(starPath(box));
        p.setOpacity(1.0);
    }
    // A hairline between rows.
    p.setPen(kitColor("#2f3235"));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.restore();
}

// ---- Locations window ----

QRect LocationRowDelegate::infoIconRect(const QRect& row) {
    return {row.right() - 36, row.top() + (row.height() - 20) / 2, 20, 20};
}

void LocationRowDelegate::drawHighlightedTitle(QPainter& p, const QRect& r, const QString& title) const {
    const QFont font = kitFont("Lato-Black", 12);
    const QString shown = QFontMetrics(font).elidedText(title, Qt::ElideRight, r.width());
    QTextLayout layout(shown, kitFont("Lato-Semibold", 12));
    // Formats past an ellipsis would point into text that is no longer there.
    auto formats = locationTitleFormats(title, highlight_);
    for (auto& f : formats) f.length = std::max(0, std::min(f.start + f.length, int(shown.size())) - f.start);
    layout.setFormats(formats);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(r.width());
    layout.endLayout();
    layout.draw(&p, QPointF(r.left(), r.top() + (r.height() - line.height()) / 2));
}

void LocationRowDelegate::drawInfoIcon(QPainter& p, const QRect& row) const {
    const QRectF icon = QRectF(infoIconRect(row)).adjusted(2, 2, -2, -2);
    const QColor colour = kitColor("#BFBFBF");
    p.setPen(QPen(colour, 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(icon);
    p.setFont(kitFont("Lato-Black", 11));
    p.drawText(icon, Qt::AlignCenter, QStringLiteral("i"));
}

// ---- end locations window ----

}  // namespace hw
