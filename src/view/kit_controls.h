#pragma once
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <cstdint>
#include <string>

namespace hw {

// A button with the pointing hand over all of it.
class NSButtonWithHandCursor : public QPushButton {
    Q_OBJECT
public:
    explicit NSButtonWithHandCursor(QWidget* parent = nullptr) : NSButtonWithHandCursor(QString(), parent) {}
    explicit NSButtonWithHandCursor(const QString& title, QWidget* parent = nullptr);
};

// A scroll view whose owner can stop the wheel from scrolling it; the wheel
// then goes to the view behind it.
class CustomizedNSScrollView : public QScrollArea {
    Q_OBJECT
public:
    explicit CustomizedNSScrollView(QWidget* parent = nullptr) : QScrollArea(parent) {}
    bool disabledScrolling = false;

protected:
    void wheelEvent(QWheelEvent* event) override;
};

// A one-line field; a class of its own so that windows can name it.
class TextFieldWithCustomLineHeight : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
};

// A text area that shows a grey hint while it is empty.
class TextViewWithPlaceHolder : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextViewWithPlaceHolder(QWidget* parent = nullptr);

    void setPlaceHolderTitleString(const std::string& text);
    std::string placeHolderTitleString() const { return placeHolder_.toStdString(); }
    std::string string() const { return toPlainText().toStdString(); }
    // Whether the hint is drawn now.
    bool showsPlaceHolder() const { return document()->isEmpty(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    QString placeHolder_;
};

// A field's validation type (0 when never set) and whether its text passes it.
void setTextFieldValidationType(QLineEdit& field, std::uint32_t type);
std::uint32_t textFieldValidationType(const QLineEdit& field);
bool validate(const QLineEdit& field);

}  // namespace hw
