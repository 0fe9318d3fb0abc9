#include "view/kit_controls.h"

#include <QPainter>
#include <QWheelEvent>

#include "core/text_field_validation.h"

namespace hw {

NSButtonWithHandCursor::NSButtonWithHandCursor(const QString& title, QWidget* parent) : QPushButton(title, parent) {
    setCursor(Qt::PointingHandCursor);
    // Tab reaches it, a click does not take the focus (nor change its look).
    setFocusPolicy(Qt::TabFocus);
}

void CustomizedNSScrollView::wheelEvent(QWheelEvent* event) {
    if (disabledScrolling) {
        event->ignore();
        return;
    }
    QScrollArea::wheelEvent(event);
}

TextViewWithPlaceHolder::TextViewWithPlaceHolder(QWidget* parent)
    : QPlainTextEdit(parent), placeHolder_(QStringLiteral("Please describe the issue as best as possible.")) {
    connect(this, &QPlainTextEdit::textChanged, viewport(), qOverload<>(&QWidget::update));
}

void TextViewWithPlaceHolder::setPlaceHolderTitleString(const std::string& text) {
    placeHolder_ = QString::fromStdString(text);
    viewport()->update();
}

void TextViewWithPlaceHolder::paintEvent(QPaintEvent* event) {
    QPlainTextEdit::paintEvent(event);
    if (!showsPlaceHolder()) return;
    QPainter painter(viewport());
    painter.setPen(QColor(Qt::gray));
    painter.setFont(font());
    // Seven pixels in, on the first line where typed text would start.
    const QRectF area = QRectF(viewport()->rect()).adjusted(7, document()->documentMargin(), -4, 0);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, placeHolder_);
}

void TextViewWithPlaceHolder::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    viewport()->update();
}

namespace {
const char* const kValidationType = "hw_validation_type";
}

void setTextFieldValidationType(QLineEdit& field, std::uint32_t type) {
    field.setProperty(kValidationType, QVariant::fromValue(type));
}

std::uint32_t textFieldValidationType(const QLineEdit& field) {
    return field.property(kValidationType).value<std::uint32_t>();
}

bool validate(const QLineEdit& field) {
    return textFieldValidates(textFieldValidationType(field), field.text().toStdString());
}

}  // namespace hw
