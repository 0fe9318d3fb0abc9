#include "view/plain_text_controls.h"

#include <QLabel>

#include "core/bidi_controls.h"
#include "view/kit_color.h"
#include "view/kit_controls.h"

namespace hw {

QString oneLineText(std::string_view utf8) {
    QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029 || isBidiControl(u)) c = QChar(char16_t(0xfffd));
    }
    return text;
}

QLabel* makePlainLabel(QWidget* parent, const QFont& font, std::string_view color, Qt::Alignment alignment,
                       bool wordWrap) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setAlignment(alignment);
    label->setWordWrap(wordWrap);
    label->setStyleSheet(QStringLiteral("color:%1;background:transparent;").arg(kitColor(color).name()));
    return label;
}

QPushButton* makeFlatLink(QWidget* parent, std::string_view color) {
    auto* link = new NSButtonWithHandCursor(parent);
    link->setFlat(true);
    // The keyboard reaches it; a click leaves the focus where it was.
    link->setFocusPolicy(Qt::TabFocus);
    link->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;color:%1;padding:0;}")
                            .arg(kitColor(color).name()));
    return link;
}

}  // namespace hw
