#include "windows/settings/widgets/settings_views.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPaintEvent>
#include <QPropertyAnimation>
#include <QScrollBar>

#include "texts/locale_data.h"
#include "view/kit_color.h"
#include "view/kit_controls.h"
#include "view/kit_fonts.h"
#include "view/kit_geometry.h"
#include "view/kit_images.h"

namespace hw {

double detailsYForScrollValue(double documentHeight, double scrollValue, double viewportHeight) {
    return flipRectInParent(QRectF(0, scrollValue, 1, viewportHeight), documentHeight).y();
}

double detailsScrollValueForY(double documentHeight, double y, double viewportHeight) {
    return flipRectInParent(QRectF(0, y, 1, viewportHeight), documentHeight).y();
}

QLabel* makeSettingsHeader(const std::string& text, QWidget* parent) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(latoFont(700, 15));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, kitColor("#303334"));
    label->setPalette(p);
    return label;
}

QLabel* makeSettingsText(const std::string& text, QWidget* parent) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(latoFont(400, 12));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, kitColor("#6b6e71"));
    label->setPalette(p);
    return label;
}

QLabel* makeSettingsLockedNote(QWidget* parent) {
    auto* label = makeSettingsText(LocaleData::settings_window_locked_while_connected_note(), parent);
    label->setFont(latoFont(700, 12));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, kitColor("#b25a00"));
    label->setPalette(p);
    label->hide();
    return label;
}

QCheckBox* makeSettingsCheckBox(const std::string& text, QWidget* parent) {
    auto* box = new QCheckBox(QString::fromStdString(text), parent);
    box->setFont(latoFont(400, 13));
    // Texts without the catalogue's leading blanks still line up with the
    // descriptions under them.
    if (!text.empty() && text[0] != ' ') box->setStyleSheet("QCheckBox { spacing: 10px; }");
    QPalette p = box->palette();
    p.setColor(QPalette::WindowText, kitColor("#303334"));
    box->setPalette(p);
    return box;
}

QPushButton* makeSettingsLink(const std::string& text, QWidget* parent) {
    auto* link = new NSButtonWithHandCursor(QString::fromStdString(text), parent);
    link->setFlat(true);
    link->setFont(latoFont(600, 13));
    link->setStyleSheet("QPushButton { color: #15A9EA; border: none; text-align: left; padding: 2px 0; }"
                        "QPushButton:hover { text-decoration: underline; }");
    return link;
}

namespace {
void fill(QWidget& widget, QPaintEvent* event, const char* colour) {
    QPainter painter(&widget);
    painter.fillRect(event->rect(), kitColor(colour));
}
}  // namespace

SettingsMainView::SettingsMainView(QWidget* parent) : QWidget(parent) {}
void SettingsMainView::paintEvent(QPaintEvent* event) { fill(*this, event, "#303334"); }

SettingsViewBottomBar::SettingsViewBottomBar(QWidget* parent) : QWidget(parent) {}
void SettingsViewBottomBar::paintEvent(QPaintEvent* event) {
    fill(*this, event, "#FFFFFF");
    // A hairline keeps the bar apart from a white pane above it.
    QPainter painter(this);
    painter.setPen(kitColor("#e1e3e6"));
    painter.drawLine(0, 0, width(), 0);
}

SettingsViewDetailsSubView::SettingsViewDetailsSubView(QWidget* parent) : QWidget(parent) {}
void SettingsViewDetailsSubView::paintEvent(QPaintEvent* event) { fill(*this, event, "#FFFFFF"); }

SettingsViewDetailsArea::SettingsViewDetailsArea(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette p = palette();
    p.setColor(QPalette::Window, kitColor("#FFFFFF"));
    setPalette(p);
    viewport()->setAutoFillBackground(true);
    viewport()->setPalette(p);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (onScroll) onScroll(detailsY());
    });
}

void SettingsViewDetailsArea::setDocument(QWidget* document) {
    setWidget(document);
    // y-up (0, document height) is the top of the document.
    verticalScrollBar()->setValue(0);
}

double SettingsViewDetailsArea::documentHeight() const { return widget() ? widget()->height() : 0.0; }

double SettingsViewDetailsArea::detailsY() const {
    return detailsYForScrollValue(documentHeight(), verticalScrollBar()->value(), viewport()->height());
}

void SettingsViewDetailsArea::scrollToY(double y) {
    QScrollBar* bar = verticalScrollBar();
    const double wanted = detailsScrollValueForY(documentHeight(), y, viewport()->height());
    const int target = std::clamp(int(std::lround(wanted)), bar->minimum(), bar->maximum());
    auto* animation = new QPropertyAnimation(bar, "value", this);
    animation->setDuration(250);
    animation->setEndValue(target);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

SettingsTableViewCell::SettingsTableViewCell(QWidget* parent)
    : QWidget(parent), iconImageView(new QLabel(this)), textField(new QLabel(this)), background_(kitColor("#373a3d")) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 0, 10, 0);
    layout->setSpacing(10);
    iconImageView->setFixedSize(22, 22);
    textField->setTextFormat(Qt::PlainText);
    textField->setFont(latoFont(500, 13));
    QPalette p = textField->palette();
    p.setColor(QPalette::WindowText, kitColor("#FFFFFF"));
    textField->setPalette(p);
    layout->addWidget(iconImageView);
    layout->addWidget(textField, 1);
}

void SettingsTableViewCell::setBackground(const QColor& colour) {
    background_ = colour;
    update();
}

void SettingsTableViewCell::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // The bottom pixel row is the table's grid line.
    painter.fillRect(event->rect().intersected(rect().adjusted(0, 0, 0, -1)), background_);
}

SettingTableView::SettingTableView(QWidget* parent) : QTableWidget(parent) {
    setColumnCount(1);
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(46);
    setShowGrid(false);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette p = palette();
    p.setColor(QPalette::Base, kitColor("#373a3d"));
    setPalette(p);
}

QColor SettingTableView::gridColour() { return kitColor("#4b4e51"); }

void SettingTableView::setRows(const std::vector<SettingsListItemModel>& rows) {
    clearContents();
    setRowCount(int(rows.size()));
    for (int row = 0; row < int(rows.size()); ++row) {
        auto* cell = new SettingsTableViewCell;
        cell->textField->setText(QString::fromStdString(rows[std::size_t(row)].header));
        if (const auto& icon = rows[std::size_t(row)].icon)
            cell->iconImageView->setPixmap(QPixmap::fromImage(kitTemplateImage(*icon, kitColor("#FFFFFF"), {22, 22},
                                                                               devicePixelRatioF())));
        setCellWidget(row, 0, cell);
    }
}

SettingsTableViewCell* SettingTableView::cell(int row) const {
    return qobject_cast<SettingsTableViewCell*>(cellWidget(row, 0));
}

QRect SettingTableView::gridRect(const QRect& clip) const {
    if (rowCount() == 0) return {};
    const int last = rowCount() - 1;
    const int bottom = rowViewportPosition(last) + rowHeight(last);
    return QRect(0, 0, viewport()->width(), bottom).intersected(clip);
}

void SettingTableView::paintEvent(QPaintEvent* event) {
    QTableWidget::paintEvent(event);
    const QRect area = gridRect(event->rect());
    if (area.isEmpty()) return;
    QPainter painter(viewport());
    painter.setClipRect(area);
    painter.setPen(gridColour());
    for (int row = 0; row < rowCount(); ++row) {
        const int y = rowViewportPosition(row) + rowHeight(row) - 1;
        painter.drawLine(0, y, viewport()->width(), y);
    }
}

}  // namespace hw
