#include "view/hyperlink_text_field.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextOption>
#include <cmath>

#include "platform/log.h"
#include "view/attributed_text_layout.h"
#include "view/kit_fonts.h"
#include "view/kit_url_opener.h"

namespace hw {

namespace {

// The keyboard opens a field's first link: the fields hold one.
std::string firstLink(const AttributedText& text) {
    for (const auto& run : text.runs)
        if (run.link && !run.link->empty()) return *run.link;
    return {};
}

}  // namespace

HyperlinkTextField::HyperlinkTextField(QWidget* parent) : QWidget(parent), textColor_(palette().color(QPalette::WindowText)) {
    setMouseTracking(true);
    setFont(latoFont(400, 13));
    document_.setDocumentMargin(0);
    document_.setDefaultFont(font());
    relayout();
}

void HyperlinkTextField::setAttributedValue(const AttributedText& text) {
    value_ = text;
    // A field with a link is a control the keyboard reaches; a plain text is not.
    setFocusPolicy(firstLink(value_).empty() ? Qt::NoFocus : Qt::TabFocus);
    relayout();
}

void HyperlinkTextField::setStringValue(const std::string& text) { setAttributedValue(AttributedText{{TextRun{text}}}); }

void HyperlinkTextField::setTextColor(const QColor& color) {
    textColor_ = color;
    update();
}

void HyperlinkTextField::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    relayout();
}

void HyperlinkTextField::setWordWrap(bool wrap) {
    wordWrap_ = wrap;
    relayout();
}

void HyperlinkTextField::relayout() {
    document_.setDefaultFont(font());
    QTextOption option = document_.defaultTextOption();
    option.setWrapMode(wordWrap_ ? QTextOption::WordWrap : QTextOption::NoWrap);
    document_.setDefaultTextOption(option);
    layoutAttributedText(document_, value_, alignment_ & Qt::AlignHorizontal_Mask);
    document_.setTextWidth(width() > 0 ? width() : -1);
    updateGeometry();
    update();
}

QSize HyperlinkTextField::sizeHint() const {
    QTextDocument measure;
    measure.setDocumentMargin(0);
    measure.setDefaultFont(font());
    layoutAttributedText(measure, value_, Qt::AlignLeft);
    return QSize(int(std::ceil(measure.idealWidth())), int(std::ceil(measure.size().height())));
}

int HyperlinkTextField::heightForWidth(int width) const {
    QTextDocument measure;
    measure.setDocumentMargin(0);
    measure.setDefaultFont(font());
    layoutAttributedText(measure, value_, Qt::AlignLeft);
    measure.setTextWidth(width);
    return int(std::ceil(measure.size().height()));
}

QPointF HyperlinkTextField::documentOrigin() const {
    // Centred vertically, as a one-line field draws its text.
    return {0, std::max(0.0, (height() - document_.size().height()) / 2.0)};
}

void HyperlinkTextField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.translate(documentOrigin());
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    context.palette.setColor(QPalette::Text, textColor_);
    document_.documentLayout()->draw(&painter, context);
}

std::string HyperlinkTextField::linkAt(const QPoint& point) const {
    return document_.documentLayout()->anchorAt(QPointF(point) - documentOrigin()).toStdString();
}

void HyperlinkTextField::mouseMoveEvent(QMouseEvent* event) {
    if (linkAt(event->position().toPoint()).empty()) unsetCursor(); else setCursor(Qt::PointingHandCursor);
    QWidget::mouseMoveEvent(event);
}

void HyperlinkTextField::mousePressEvent(QMouseEvent* event) {
    pressedLink_ = event->button() == Qt::LeftButton ? linkAt(event->position().toPoint()) : std::string();
    if (pressedLink_.empty()) QWidget::mousePressEvent(event); else event->accept();
}

void HyperlinkTextField::mouseReleaseEvent(QMouseEvent* event) {
    const std::string link = std::exchange(pressedLink_, {});
    if (link.empty() || event->button() != Qt::LeftButton || linkAt(event->position().toPoint()) != link) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    if (!deactivated) openLinkProcessing(link);
}

void HyperlinkTextField::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const std::string link = firstLink(value_);
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) && !link.empty() &&
        !event->isAutoRepeat()) {
        event->accept();
        if (!deactivated) openLinkProcessing(link);
        return;
    }
    QWidget::keyPressEvent(event);
}

void HyperlinkTextField::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    document_.setTextWidth(width());
}

void HyperlinkTextField::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) relayout();
}

void HyperlinkTextField::openLinkProcessing(const std::string& url) {
    URLOpener* opener = opener_ ? opener_ : kitURLOpener();
    if (!opener) {
        log::warning("HyperlinkTextField", "no URL opener installed");
        return;
    }
    opener->openURL(url);
}

ActionLinkLabel::ActionLinkLabel(const std::string& title, Color color, QWidget* parent)
    : NSLabelWithHyperlink(parent), color_(color) {
    setTitle(title);
}

void ActionLinkLabel::setTitle(const std::string& title, int weight, bool underline) {
    TextRun run = hyperlinkFromString(title, "#" + title, color_, underline).runs.front();
    run.weight = weight;
    setAttributedValue(AttributedText{{run}});
}

void ActionLinkLabel::openLinkProcessing(const std::string& url) {
    if (customLinkClickHandler) customLinkClickHandler(url);
}

MixedNSTextFieldWithHyperlink::MixedNSTextFieldWithHyperlink(QWidget* parent) : HyperlinkTextField(parent) {
    setAlignment(Qt::AlignHCenter);
}

void MixedNSTextFieldWithHyperlink::applyTextWithLink(const std::string& leading, const URLModel& link,
                                                      const std::string& trailing) {
    TextRun first{leading};
    first.alignment = TextAlignment::Center;
    AttributedText text;
    text.append(first).append(hyperlinkFromString(link.urlLabel, link.url, link.urlColor, false)).append(TextRun{trailing});
    setAttributedValue(text);
}

void MixedNSTextFieldWithHyperlink::applyPlainText(const std::string& text) {
    TextRun run{text};
    run.alignment = TextAlignment::Center;
    setAttributedValue(AttributedText{{run}});
}

void setHyperlinkUnderlined(HyperlinkTextField& field, const URLModel& link, Color color) {
    field.setAttributedValue(hyperlinkFromString(link.urlLabel, link.url, color, true));
}

}  // namespace hw
