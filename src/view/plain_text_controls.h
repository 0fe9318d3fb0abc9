#pragma once
#include <QFont>
#include <string_view>

class QLabel;
class QPushButton;
class QWidget;

namespace hw {

// A label on a transparent ground; its text is always plain, never markup.
QLabel* makePlainLabel(QWidget* parent, const QFont& font, std::string_view color, Qt::Alignment alignment,
                       bool wordWrap = true);

// A borderless button that reads as a link, with the hand cursor.
QPushButton* makeFlatLink(QWidget* parent, std::string_view color);

}  // namespace hw
