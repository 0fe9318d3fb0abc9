#pragma once
#include <QLineEdit>

namespace hw {

// The dark locations search field: its placeholder shows only while the field
// has no focus, left-aligned, in "#737172" and the field's own font.
class LocationsSearchFieldMain : public QLineEdit {
    Q_OBJECT
public:
    static constexpr char kBorderColor[] = "#0e0e0e";
    static constexpr char kBackgroundColor[] = "#151617";
    static constexpr char kPlaceholderColor[] = "#737172";
    static constexpr int kBorderWidth = 2;
    static constexpr int kSearchIconShift = 2;

    explicit LocationsSearchFieldMain(QWidget* parent = nullptr);

    void setSearchBarPlaceholderText();
    void clearPlaceholderText();
    // The search icon's rectangle; centred, it sits 2 px left of the middle.
    QRect rectForSearchButtonWhenCentered(bool centered) const;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace hw
