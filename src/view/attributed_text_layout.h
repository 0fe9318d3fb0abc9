#pragma once
#include <QFont>
#include <QTextDocument>

#include "view/attributed_text.h"

namespace hw {

// Lays the runs into the document through QTextCursor: every text goes in
// as plain characters, so nothing a server or a user typed becomes markup.
void layoutAttributedText(QTextDocument& document, const AttributedText& text, Qt::Alignment defaultAlignment);

}  // namespace hw
