#pragma once
#include <QLabel>

namespace hw {

// One line of plain text that is cut with an ellipsis when it does not fit:
// server texts never wrap, grow the layout or render as rich text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    QString full_;
};

}  // namespace hw
