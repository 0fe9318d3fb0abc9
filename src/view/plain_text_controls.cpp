#include "view/plain_text_controls.h"

#include <QLabel>

#include "view/kit_color.h"
#include "view/kit_controls.h"

namespace hw {

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
