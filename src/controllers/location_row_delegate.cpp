#include "controllers/location_row_delegate.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "controllers/locations_table_qt_model.h"
#include "view/kit_color.h"
#include "view/kit_fonts.h"

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
        drawElided(p, r.adjusted(kTextLeft, 0, -16, 0), title, kitFont("Lato-Semibold", 12),
                   kitColor(selected ? "#FFFFFF" : "#BFBFBF"));
    } else {
        const QRect flag = flagRect(r);
        const QImage image = index.data(LocationsTableQtModel::FlagRole).value<QImage>();
        p.setPen(Qt::NoPen);
        p.setBrush(kitColor("#e8e8e8"));
        p.drawEllipse(flag);
        if (!image.isNull()) {
            QPainterPath clip;
            clip.addEllipse(QRectF(flag).adjusted(1, 1, -1, -1));
            p.setClipPath(clip);
            p.drawImage(QRectF(flag).adjusted(1, 1, -1, -1), image);
            p.setClipping(false);
        }
        const QRect star = starHitRect(r);
        drawElided(p, QRect(r.left() + kTextLeft, r.top(), star.left() - r.left() - kTextLeft - 4, r.height()), title,
                   kitFont("Lato-Semibold", 12), kitColor("#FFFFFF"));
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

}  // namespace hw
