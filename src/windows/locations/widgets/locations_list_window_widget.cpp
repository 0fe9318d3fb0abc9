#include "windows/locations/widgets/locations_list_window_widget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "texts/locale_data.h"
#include "view/color_fill_views.h"
#include "view/kit_color.h"
#include "view/kit_fades.h"
#include "windows/shared/widgets/location_row_delegate.h"
#include "windows/shared/widgets/locations_search_field_main.h"
#include "windows/shared/widgets/locations_table_qt_model.h"
#include "windows/shared/widgets/locations_table_widget.h"
#include "windows/shared/widgets/locations_window_views.h"

namespace hw {

namespace {
constexpr char kBackground[] = "#373a3d";
constexpr char kSearchAreaBackground[] = "#292b2d";
constexpr int kTooltipHeight = 64;
constexpr int kAutomaticRowHeight = 50;
}  // namespace

LocationsListWindowWidget::LocationsListWindowWidget(RemoteImageLoader& images, QWidget* parent)
    : KitWindow(parent),
      images_(images),
      searchBackground_(new LocationsWindowSearchBarBackground(this)),
      searchField_(new LocationsSearchFieldMain(searchBackground_)),
      table_(new LocationsTableWidget(this)),
      delegate_(new LocationRowDelegate(table_)),
      overlay_(new OverlayForLocationsTable(this)),
      tooltip_(new AutomaticLocationTooltipView(this)) {
    resize(kWidth, kHeight);
    setMinimumWidth(kWidth);
    delegate_->setTitleHighlight(QString());
    delegate_->setShowsAutomaticInfoIcon(true);
    table_->setItemDelegate(delegate_);
    QPalette palette = table_->palette();
    palette.setColor(QPalette::Base, kitColor(kBackground));
    table_->setPalette(palette);
    table_->viewport()->installEventFilter(this);
    // The window opens on the list, so that the field's placeholder shows
    // until the user clicks or tabs into it.
    table_->setFocus();
    // Dims the locked list rather than hiding it.
    overlay_->setFillColor(kitColor("#00000099"));
    overlay_->hide();
    tooltip_->setText(QString::fromStdString(LocaleData::locations_window_automatic_tooltip_text()));
    tooltip_->hide();

    connect(searchField_, &QLineEdit::textChanged, this, [this] {
        if (events_) events_->onSearchFieldChanged();
    });
    connect(searchField_, &QLineEdit::returnPressed, this, [this] {
        if (events_) events_->onSearchFieldChanged();
    });
    // The field's clear button empties the text first; the clear road runs after it.
    if (auto* clear = searchField_->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction"))) {
        connect(clear, &QAction::triggered, this, [this] {
            if (events_) events_->clearSearchField();
        });
    }
    connect(table_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (scrollObserved_ && events_) events_->onTableViewScrolling();
    });
    forwardTableEvents(*table_, events_);
}

LocationsListWindowWidget::~LocationsListWindowWidget() {
    // The table goes before the model it shows.
    table_->setModel(nullptr);
    delete model_;
}

void LocationsListWindowWidget::resizeEvent(QResizeEvent* event) {
    KitWindow::resizeEvent(event);
    searchBackground_->setGeometry(8, 10, width() - 16, kSearchBarHeight - 20);
    searchField_->setGeometry(searchBackground_->rect().adjusted(4, 4, -4, -4));
    const QRect list(0, kSearchBarHeight, width(), height() - kSearchBarHeight);
    table_->setGeometry(list);
    overlay_->setGeometry(list);
    tooltip_->setGeometry(8, kSearchBarHeight + kAutomaticRowHeight - 4, width() - 16, kTooltipHeight);
}

void LocationsListWindowWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kitColor(kSearchAreaBackground));
}

void LocationsListWindowWidget::bindTable(LocationsTableViewModel& viewModel) {
    auto* old = model_;
    model_ = new LocationsTableQtModel(viewModel, images_);
    table_->setViewModel(&viewModel);
    table_->setModel(model_);
    delete old;
}

QRect LocationsListWindowWidget::infoIconRect() const {
    if (!model_ || model_->rowCount() == 0) return {};
    return LocationRowDelegate::infoIconRect(table_->visualRect(model_->index(0)));
}

bool LocationsListWindowWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_->viewport() && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && infoIconRect().contains(mouse->position().toPoint())) {
            if (events_) events_->onAutomaticTooltipIcon_Click();
            return true;
        }
    }
    return KitWindow::eventFilter(watched, event);
}

void LocationsListWindowWidget::scrollRowToVisible(int row) {
    if (model_ && row >= 0 && row < model_->rowCount()) table_->scrollTo(model_->index(row));
}

void LocationsListWindowWidget::setTableScrollingDisabled(bool disabled) { table_->setScrollingDisabled(disabled); }

void LocationsListWindowWidget::setOverlayHidden(bool hidden) {
    overlay_->setVisible(!hidden);
    if (!hidden) overlay_->raise();
}

std::string LocationsListWindowWidget::searchText() const { return searchField_->text().toStdString(); }

void LocationsListWindowWidget::setSearchText(const std::string& text) {
    // The controller runs the change itself: no second report from the field.
    QSignalBlocker quiet(searchField_);
    searchField_->setText(QString::fromStdString(text));
}

void LocationsListWindowWidget::setSearchFieldEnabled(bool enabled) { searchField_->setEnabled(enabled); }

void LocationsListWindowWidget::setSearchBarPlaceholderText() { searchField_->setSearchBarPlaceholderText(); }

void LocationsListWindowWidget::clearPlaceholderText() { searchField_->clearPlaceholderText(); }

void LocationsListWindowWidget::dropSearchFieldFocus() {
    searchField_->clearFocus();
    // Losing the focus puts the placeholder back, as the field does on its own.
    searchField_->setSearchBarPlaceholderText();
}

void LocationsListWindowWidget::setTitleHighlight(const std::string& searchText) {
    delegate_->setTitleHighlight(QString::fromStdString(searchText));
    table_->viewport()->update();
}

void LocationsListWindowWidget::fadeAutomaticInfoTooltip(bool in, double seconds) {
    if (in) {
        tooltip_->raise();
        fadeInWithDuration(*tooltip_, seconds);
    } else {
        fadeOutWithDuration(*tooltip_, seconds);
    }
}

void LocationsListWindowWidget::setTooltipMouseDownHandler(std::function<void()> handler) {
    tooltip_->mouseDownHandler = std::move(handler);
}

}  // namespace hw
