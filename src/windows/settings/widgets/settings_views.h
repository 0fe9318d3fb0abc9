#pragma once
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "windows/settings/settings_window_logic.h"

namespace hw {

// The details document is laid out y-up (Support at 0); Qt scrolls y-down.
// Both directions are the same flip: the y-up position of the bottom edge
// shown, or the scroll value that shows it.
double detailsYForScrollValue(double documentHeight, double scrollValue, double viewportHeight);
double detailsScrollValueForY(double documentHeight, double y, double viewportHeight);

// The settings' recurring controls, in the window's fonts and colours.
QLabel* makeSettingsHeader(const std::string& text, QWidget* parent);
QLabel* makeSettingsText(const std::string& text, QWidget* parent);
// Says why the settings beside it are greyed; hidden until they are.
QLabel* makeSettingsLockedNote(QWidget* parent);
QCheckBox* makeSettingsCheckBox(const std::string& text, QWidget* parent);
QPushButton* makeSettingsLink(const std::string& text, QWidget* parent);

// The dark surface behind the list layout.
class SettingsMainView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsMainView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The white bar that holds Apply and Cancel.
class SettingsViewBottomBar : public QWidget {
    Q_OBJECT
public:
    explicit SettingsViewBottomBar(QWidget* parent = nullptr);
    double borderLineWidth = 2.0;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A white pane surface.
class SettingsViewDetailsSubView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsViewDetailsSubView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The scrolling details of the list layout. It starts at the top of its
// document and reports every scroll as the y-up position of its bottom edge.
class SettingsViewDetailsArea : public QScrollArea {
    Q_OBJECT
public:
    explicit SettingsViewDetailsArea(QWidget* parent = nullptr);
    void setDocument(QWidget* document);
    double documentHeight() const;
    double detailsY() const;
    // Animated through the kit's animation driver.
    void scrollToY(double y);
    std::function<void(double y)> onScroll;
};

// One row of the list: icon beside the section's title.
class SettingsTableViewCell : public QWidget {
    Q_OBJECT
public:
    explicit SettingsTableViewCell(QWidget* parent = nullptr);
    QLabel* iconImageView;
    QLabel* textField;
    void setBackground(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor background_;
};

// The list of sections; grid lines only between and under real rows.
class SettingTableView : public QTableWidget {
    Q_OBJECT
public:
    explicit SettingTableView(QWidget* parent = nullptr);
    void setRows(const std::vector<SettingsListItemModel>& rows);
    SettingsTableViewCell* cell(int row) const;
    // Where grid lines may be drawn inside the clip: from the origin down to
    // the last row's bottom edge; empty without rows.
    QRect gridRect(const QRect& clip) const;
    static QColor gridColour();

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace hw
