#pragma once
#include <QTextDocument>
#include <QWidget>
#include <functional>
#include <string>

#include "core/url_model.h"
#include "platform/url_opener.h"
#include "view/attributed_text.h"

namespace hw {

// A text with clickable links: the runs that carry an address. A click on a
// link calls openLinkProcessing with it, unless the field is deactivated.
class HyperlinkTextField : public QWidget {
    Q_OBJECT
public:
    explicit HyperlinkTextField(QWidget* parent = nullptr);

    void setAttributedValue(const AttributedText& text);
    const AttributedText& attributedValue() const { return value_; }
    // A plain text without links.
    void setStringValue(const std::string& text);
    std::string stringValue() const { return value_.plainText(); }

    // The colour of runs that name none.
    void setTextColor(const QColor& color);
    // Where runs without their own alignment sit (left unless set).
    void setAlignment(Qt::Alignment alignment);
    void setWordWrap(bool wrap);

    bool deactivated = false;

    // Opens the address through the opener (the kit's unless one is set).
    virtual void openLinkProcessing(const std::string& url);
    void setURLOpener(URLOpener* opener) { opener_ = opener; }

    // The address of the link at the point, empty when none.
    std::string linkAt(const QPoint& point) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    bool hasHeightForWidth() const override { return wordWrap_; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void relayout();
    QPointF documentOrigin() const;

    AttributedText value_;
    QTextDocument document_;
    QColor textColor_;
    Qt::Alignment alignment_ = Qt::AlignLeft;
    bool wordWrap_ = false;
    std::string pressedLink_;
    URLOpener* opener_ = nullptr;
};

// A link label whose owner may keep a click handler of its own; a click still
// opens the link as in its base.
class NSLabelWithHyperlink : public HyperlinkTextField {
    Q_OBJECT
public:
    using HyperlinkTextField::HyperlinkTextField;
    std::function<void(const std::string& url)> customLinkClickHandler;
};

// One link whose click goes to customLinkClickHandler instead of a browser:
// its address only tells links apart and is never opened.
class ActionLinkLabel : public NSLabelWithHyperlink {
    Q_OBJECT
public:
    ActionLinkLabel(const std::string& title, Color color, QWidget* parent = nullptr);
    void setTitle(const std::string& title, int weight = 600, bool underline = false);
    void openLinkProcessing(const std::string& url) override;

private:
    Color color_;
};

// One centred line: plain text, a link, more plain text; or a plain line.
class MixedNSTextFieldWithHyperlink : public HyperlinkTextField {
    Q_OBJECT
public:
    explicit MixedNSTextFieldWithHyperlink(QWidget* parent = nullptr);
    void applyTextWithLink(const std::string& leading, const URLModel& link, const std::string& trailing);
    void applyPlainText(const std::string& text);
};

// The field shows one underlined link: the model's label, to its address, in the colour.
void setHyperlinkUnderlined(HyperlinkTextField& field, const URLModel& link, Color color);

}  // namespace hw
