#include "view/attributed_text.h"

#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>

#include "view/attributed_text_layout.h"
#include "view/kit_color.h"

namespace hw {

AttributedText hyperlinkFromString(const std::string& label, const std::string& url, Color color, bool addUnderline) {
    TextRun run;
    run.text = label;
    run.color = color;
    run.underline = addUnderline;
    run.link = url;
    return AttributedText{{run}};
}

namespace {

Qt::Alignment qtAlignment(TextAlignment alignment, Qt::Alignment fallback) {
    switch (alignment) {
        case TextAlignment::Left: return Qt::AlignLeft;
        case TextAlignment::Center: return Qt::AlignHCenter;
        case TextAlignment::Right: return Qt::AlignRight;
        case TextAlignment::Natural: break;
    }
    return fallback;
}

}  // namespace

void layoutAttributedText(QTextDocument& document, const AttributedText& text, Qt::Alignment defaultAlignment) {
    document.clear();
    QTextCursor cursor(&document);
    Qt::Alignment alignment = defaultAlignment;
    for (const auto& run : text.runs) {
        if (run.alignment) {
            alignment = qtAlignment(*run.alignment, defaultAlignment);
            break;
        }
    }
    QTextBlockFormat block;
    block.setAlignment(alignment);
    cursor.setBlockFormat(block);
    for (const auto& run : text.runs) {
        QTextCharFormat format;
        if (run.color) format.setForeground(toQColor(*run.color));
        if (run.weight) format.setFontWeight(*run.weight);
        if (run.fontSize) format.setProperty(QTextFormat::FontPixelSize, int(*run.fontSize + 0.5));
        format.setFontUnderline(run.underline);
        if (run.link) {
            format.setAnchor(true);
            format.setAnchorHref(QString::fromStdString(*run.link));
        }
        cursor.insertText(QString::fromStdString(run.text), format);
    }
}

}  // namespace hw
