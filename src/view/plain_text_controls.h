#pragma once
#include <QFont>
#include <QString>
#include <string_view>

class QLabel;
class QPushButton;
class QWidget;

namespace hw {

// A label on a transparent ground; its text is always plain, never markup.
QLabel* makePlainLabel(QWidget* parent, const QFont& font, std::string_view color, Qt::Alignment alignment,
                       bool wordWrap = true);

// Outside text (a Wi-Fi network's name) for one line: octets that are not
// UTF-8, control characters (a line end, an escape) and bidi controls show as
// U+FFFD, which every font draws, so nothing breaks the line, hides or reorders.
QString oneLineText(std::string_view utf8);

// A borderless button that reads as a link, with the hand cursor.
QPushButton* makeFlatLink(QWidget* parent, std::string_view color);

}  // namespace hw
