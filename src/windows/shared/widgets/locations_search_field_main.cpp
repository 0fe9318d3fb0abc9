#include "windows/shared/widgets/locations_search_field_main.h"

#include <QPainter>
#include <QPalette>

#include "texts/locale_data.h"
#include "view/kit_color.h"
#include "view/kit_fonts.h"

namespace hw {

namespace {
constexpr int kIconSize = 14;
constexpr int kIconLeft = 10;
}  // namespace

LocationsSearchFieldMain::LocationsSearchFieldMain(QWidget* parent) : QLineEdit(parent) {
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setFont(kitFont("Lato-Regular", 13));
    setTextMargins(kIconLeft + kIconSize + 6, 0, 8, 0);
    QPalette p = palette();
    // The field draws its own border and background under the text.
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Text, kitColor("#FFFFFF"));
    p.setColor(QPalette::PlaceholderText, kitColor(kPlaceholderColor));
    setPalette(p);
    setClearButtonEnabled(true);
    setSearchBarPlaceholderText();
}

void LocationsSearchFieldMain::setSearchBarPlaceholderText() {
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setPlaceholderText(QString::fromStdString(LocaleData::locations_list_search_bar_placeholder_label()));
}

void LocationsSearchFieldMain::clearPlaceholderText() { setPlaceholderText(QString()); }

QRect LocationsSearchFieldMain::rectForSearchButtonWhenCentered(bool centered) const {
    const int y = (height() - kIconSize) / 2;
    if (!centered) return {kIconLeft, y, kIconSize, kIconSize};
    return {(width() - kIconSize) / 2 - kSearchIconShift, y, kIconSize, kIconSize};
}

void LocationsSearchFieldMain::focusInEvent(QFocusEvent* event) {
    // Qt keeps a placeholder visible while focused; this field hides it.
    clearPlaceholderText();
    QLineEdit::focusInEvent(event);
}

void LocationsSearchFieldMain::focusOutEvent(QFocusEvent* event) {
    setSearchBarPlaceholderText();
    QLineEdit::focusOutEvent(event);
}

void LocationsSearchFieldMain::paintEvent(QPaintEvent* event) {
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), kitColor(kBorderColor));
        p.fillRect(rect().adjusted(kBorderWidth, kBorderWidth, -kBorderWidth, -kBorderWidth),
                   kitColor(kBackgroundColor));
    }
    QLineEdit::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF icon = rectForSearchButtonWhenCentered(false);
    p.setPen(QPen(kitColor(kPlaceholderColor), 1.6));
    p.drawEllipse(QRectF(icon.left(), icon.top(), icon.width() * 0.7, icon.height() * 0.7));
    p.drawLine(QPointF(icon.left() + icon.width() * 0.6, icon.top() + icon.height() * 0.6), icon.bottomRight());
}

}  // namespace hw
