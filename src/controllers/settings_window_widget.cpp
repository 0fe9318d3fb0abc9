#include "controllers/settings_window_widget.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "controllers/settings_entire_page_widget.h"
#include "controllers/settings_views.h"
#include "controllers/settings_window_view_controller.h"
#include "texts/locale_data.h"
#include "view/activity_indicator_with_image.h"
#include "view/color_fill_views.h"
#include "view/do_tabbar_view.h"
#include "view/kit_color.h"
#include "view/kit_controls.h"
#include "view/kit_fades.h"

namespace hw {

NetworksListWidget::NetworksListWidget(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setStyleSheet("QListWidget::item { padding: 4px 6px; }");
}

void NetworksListWidget::reloadNetworks(const std::vector<TrustedNetworkItem>& rows) {
    clear();
    for (const auto& row : rows) {
        const std::string& ssid = row.networkName();
        auto* item = new QListWidgetItem(QString::fromUtf8(ssid.data(), qsizetype(ssid.size())), this);
        // Two access points of one network differ only here.
        item->setToolTip(QString::fromUtf8(row.BSSID.data(), qsizetype(row.BSSID.size())));
    }
}

SettingsWindowWidget::SettingsWindowWidget(UserDefaultsController& settings, SettingsLayout layout, QWidget* parent)
    : KitWindow(parent), settings_(settings), layout_(layout) {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    tabbarView_ = new DOTabbarView(this);
    stack_ = new QStackedWidget(this);
    for (QWidget* pane : {buildGeneralPane(), buildProtocolPane(), buildAutoWiFiPane(), buildKillSwitchPane(),
                          buildSupportPane()})
        stack_->addWidget(pane);

    if (layout_ == SettingsLayout::Tabbed) {
        // The panes give way to the tab bar, never the reverse.
        tabbarView_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        root->addWidget(tabbarView_);
        root->addWidget(stack_, 1);
        setFixedSize(560, 520);
    } else {
        // The list arrangement: the panes stay behind the scenes for the
        // trusted networks; the single page shows everything else.
        tabbarView_->hide();
        stack_->hide();
        auto* main = new SettingsMainView(this);
        auto* row = new QHBoxLayout(main);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        list_ = new SettingTableView(main);
        list_->setFixedWidth(220);
        row->addWidget(list_);
        details_ = new SettingsViewDetailsArea(main);
        entirePage_ = new SettingsEntirePageWidget(settings_);
        details_->setDocument(entirePage_);
        row->addWidget(details_, 1);
        root->addWidget(main, 1);
        setFixedSize(220 + SettingsEntirePageWidget::kDocumentWidth + 14, SettingsEntirePageWidget::kViewportHeight + 54);
        connect(list_, &QTableWidget::cellPressed, this, [this](int r, int) {
            if (controller_) controller_->tableViewShouldSelectRow(r);
        });
        details_->onScroll = [this](double y) {
            if (controller_) controller_->onViewScrolling(y);
        };
    }
    root->addWidget(buildBottomBar());
    buildAddNetworkSheet();
    buildSupportTicketSheet();

    overlay_ = new AutoUpdateModalOverlay(this);
    overlay_->hide();
}

SettingsWindowWidget::~SettingsWindowWidget() {
    tabbarView_->tabbar().setDelegate(nullptr);
    setCloseHandler(nullptr);
}

void SettingsWindowWidget::setController(SettingsWindowViewController* controller) {
    controller_ = controller;
    if (entirePage_) entirePage_->setController(controller);
}

QWidget* SettingsWindowWidget::buildBottomBar() {
    auto* bar = new SettingsViewBottomBar(this);
    bar->setFixedHeight(54);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(20, 10, 20, 10);
    row->addStretch(1);
    cancel_ = new QPushButton(QString::fromStdString(LocaleData::settings_window_cancel_button()), bar);
    apply_ = new QPushButton(QString::fromStdString(LocaleData::settings_window_apply_button()), bar);
    apply_->setDefault(true);
    for (QPushButton* button : {cancel_, apply_}) {
        button->setMinimumWidth(96);
        row->addWidget(button);
    }
    apply_->setEnabled(false);
    connect(apply_, &QPushButton::clicked, this, [this] {
        if (controller_) controller_->onApplyButtonClick();
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (controller_) controller_->cancelChanges();
    });
    return bar;
}

void SettingsWindowWidget::changed() {
    if (controller_) controller_->onParametersChanges();
}

QCheckBox& SettingsWindowWidget::checkBox(const std::string& key) { return *boxes_.at(key); }

void SettingsWindowWidget::resizeEvent(QResizeEvent* event) {
    KitWindow::resizeEvent(event);
    overlay_->setGeometry(rect());
}

void SettingsWindowWidget::closeEvent(QCloseEvent* event) {
    // Sheets go with their window.
    for (QDialog* sheet : {addSheet_, supportSheet_})
        if (sheet->isVisible()) sheet->reject();
    KitWindow::closeEvent(event);
}

// --- SettingsWindowView ---

void SettingsWindowWidget::setApplyEnabled(bool enabled) { apply_->setEnabled(enabled); }

void SettingsWindowWidget::setProtocolsChangingEnabled(bool enabled) {
    for (QAbstractButton* cell : protocols_->buttons()) cell->setEnabled(enabled);
    boxes_.at("useNetworkLock")->setEnabled(enabled);
}

void SettingsWindowWidget::setTrustedNetworksCheckboxEnabled(bool enabled) {
    boxes_.at("enableTrustedNetworksManagement")->setEnabled(enabled);
}

void SettingsWindowWidget::setTrustedNetworksEditingEnabled(bool enabled) {
    plus_->setEnabled(enabled);
    minus_->setEnabled(enabled);
    trustedTable_->setEnabled(enabled);
}

void SettingsWindowWidget::setVersionText(const std::string& text) { version_->setText(QString::fromStdString(text)); }

DOTabbar& SettingsWindowWidget::tabbar() { return tabbarView_->tabbar(); }

void SettingsWindowWidget::selectTab(const std::string& tab) {
    const int index = std::atoi(tab.c_str()) - 1;
    if (index >= 0 && index < stack_->count()) stack_->setCurrentIndex(index);
}

std::string SettingsWindowWidget::selectedTab() const { return std::to_string(stack_->currentIndex() + 1); }

void SettingsWindowWidget::beginAddNetworkSheet() {
    availableTable_->clear();
    addSheet_->open();
}

void SettingsWindowWidget::endAddNetworkSheet() {
    if (addSheet_->isVisible()) addSheet_->accept();
}

void SettingsWindowWidget::setAddNetworkLoading(bool loading) {
    spinner_->setVisible(loading);
    if (loading) spinner_->startRotationAnimation();
    else spinner_->stopRotationAnimation();
    availableTable_->setEnabled(!loading);
}

void SettingsWindowWidget::beginSupportTicketSheet() { supportSheet_->open(); }

void SettingsWindowWidget::endSupportTicketSheet() {
    if (supportSheet_->isVisible()) supportSheet_->accept();
}

std::string SettingsWindowWidget::supportTopic() const { return topics_->currentText().toStdString(); }

std::optional<std::string> SettingsWindowWidget::supportTicketBody() const { return body_->string(); }

QWidget& SettingsWindowWidget::autoUpdateOverlay() { return *overlay_; }

void SettingsWindowWidget::fadeInAutoUpdateOverlay(double seconds) {
    overlay_->setGeometry(rect());
    overlay_->raise();
    fadeInWithDuration(*overlay_, seconds);
}

void SettingsWindowWidget::fadeOutAutoUpdateOverlay(double seconds, std::function<void()> done) {
    fadeOutWithDuration(*overlay_, seconds, std::move(done));
}

void SettingsWindowWidget::hideAutoUpdateOverlay() { overlay_->hide(); }

void SettingsWindowWidget::reloadSettingsList(const std::vector<SettingsListItemModel>& rows) {
    if (list_) list_->setRows(rows);
}

void SettingsWindowWidget::setSettingsListRowBackground(int row, const std::string& colour) {
    if (auto* cell = list_ ? list_->cell(row) : nullptr) cell->setBackground(kitColor(colour));
}

void SettingsWindowWidget::selectSettingsListRow(int row) {
    if (!list_ || row < 0 || row >= list_->rowCount()) return;
    list_->scrollTo(list_->model()->index(row, 0));
}

void SettingsWindowWidget::scrollDetailsToY(double y) {
    if (details_) details_->scrollToY(y);
}

double SettingsWindowWidget::detailsDocumentHeight() const { return details_ ? details_->documentHeight() : 0.0; }

}  // namespace hw
