#include "windows/settings/widgets/settings_window_widget.h"

#include <QActionGroup>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "texts/locale_data.h"
#include "view/activity_indicator_with_image.h"
#include "view/color_fill_views.h"
#include "view/do_tabbar_view.h"
#include "view/kit_color.h"
#include "view/kit_controls.h"
#include "view/kit_fades.h"
#include "view/kit_images.h"
#include "view/plain_text_controls.h"
#include "windows/settings/settings_window_view_controller.h"
#include "windows/settings/widgets/settings_entire_page_widget.h"
#include "windows/settings/widgets/settings_pane_widgets.h"
#include "windows/settings/widgets/settings_views.h"

namespace hw {

NetworksListWidget::NetworksListWidget(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setStyleSheet("QListWidget::item { padding: 4px 6px; }");
}

void NetworksListWidget::reloadNetworks(const std::vector<TrustedNetworkItem>& rows) {
    clear();
    for (const auto& row : rows) {
        // A name is any 32 octets: a line end or an escape in it shows, and breaks nothing.
        auto* item = new QListWidgetItem(oneLineText(row.networkName()), this);
        // Two access points of one network differ only here.
        item->setToolTip(oneLineText(row.BSSID));
    }
}

SettingsWindowWidget::SettingsWindowWidget(UserDefaultsController& settings, SettingsLayout layout, QWidget* parent)
    : KitWindow(parent), settings_(settings), layout_(layout) {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    tabbarView_ = new DOTabbarView(this);
    stack_ = new QStackedWidget(this);
    generalPane_ = new SettingsGeneralPaneWidget(settings_);
    protocolPane_ = new SettingsProtocolPaneWidget(settings_);
    supportPane_ = new SettingsSupportPaneWidget;
    for (QWidget* pane : {static_cast<QWidget*>(generalPane_), static_cast<QWidget*>(protocolPane_),
                          buildAutoWiFiPane(), buildKillSwitchPane(), static_cast<QWidget*>(supportPane_)})
        stack_->addWidget(pane);

    if (layout_ == SettingsLayout::Tabbed) {
        // The toolbar is the row that switches the panes. The tab bar, which
        // carries the same items, stays behind it: shown as well, the window
        // would offer the same row twice.
        buildToolbar();
        root->addWidget(toolbar_);
        tabbarView_->hide();
        root->addWidget(stack_, 1);
        setFixedSize(560, 540);
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
    generalPane_->setController(controller ? &controller->generalOptionsController() : nullptr);
    protocolPane_->setController(controller ? &controller->vpnProtocolsViewController() : nullptr);
    supportPane_->setController(controller ? &controller->supportOptionsController() : nullptr);
    if (!toolbar_) return;
    // The controller is the toolbar's delegate: it makes the items.
    toolbar_->clear();
    if (!controller) return;
    auto* group = new QActionGroup(toolbar_);
    for (const auto& pane : settingsPaneItems()) {
        SettingsToolbarItem item = controller->toolbarItemForItemIdentifier(pane.identifier, true);
        controller->toolbarWillAddItem(item);
        QAction* action = toolbar_->addAction(QString::fromStdString(item.label).trimmed());
        action->setObjectName(QString::fromStdString(item.identifier));
        action->setToolTip(QString::fromStdString(item.toolTip).trimmed());
        if (!item.image.empty())
            action->setIcon(QIcon(QPixmap::fromImage(
                kitTemplateImage(item.image, kitColor("#4b4e51"), {22, 22}, devicePixelRatioF()))));
        action->setCheckable(true);
        group->addAction(action);
        // A toolbar's buttons take no focus of their own; these are the panes' only way in.
        if (QWidget* button = toolbar_->widgetForAction(action)) button->setFocusPolicy(Qt::TabFocus);
        connect(action, &QAction::triggered, this, [run = item.action] {
            if (run) run();
        });
    }
    markToolbarItem();
}

void SettingsWindowWidget::showEvent(QShowEvent* event) {
    // The window opens on the pane switcher, not on whichever control was made first.
    if (toolbar_ && !focusWidget() && !toolbar_->actions().isEmpty())
        if (QWidget* first = toolbar_->widgetForAction(toolbar_->actions().front())) first->setFocus(Qt::OtherFocusReason);
    KitWindow::showEvent(event);
}

void SettingsWindowWidget::buildToolbar() {
    toolbar_ = new QToolBar(this);
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar_->setIconSize({22, 22});
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar_->setStyleSheet(QStringLiteral("QToolBar{background:%1;border:none;border-bottom:1px solid %2;"
                                           "padding:4px 10px;spacing:2px;}"
                                           "QToolButton{color:%3;padding:3px 8px;border-radius:4px;}"
                                           "QToolButton:checked{background:%2;}")
                                .arg(kitColor("#efefef").name(), kitColor("#d6d6d6").name(),
                                     kitColor("#303334").name()));
}

void SettingsWindowWidget::markToolbarItem() {
    if (!toolbar_) return;
    const std::string tab = selectedTab();
    for (QAction* action : toolbar_->actions()) {
        const auto* item = settingsPaneItem(action->objectName().toStdString());
        if (item && tab == item->tab) action->setChecked(true);
    }
}

QWidget* SettingsWindowWidget::buildBottomBar() {
    auto* bar = new SettingsViewBottomBar(this);
    bar->setFixedHeight(54);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(20, 10, 20, 10);
    knowledgeBase_ = new BottomBarLinkedText(LocaleData::settings_window_support_knowledge_base_label(), bar);
    knowledgeBase_->customLinkClickHandler = [this](const std::string&) {
        if (controller_) controller_->onKnowledgeBase_click();
    };
    row->addWidget(knowledgeBase_);
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

QCheckBox& SettingsWindowWidget::checkBox(const std::string& key) {
    const auto& general = generalPane_->boxes();
    const auto it = general.find(key);
    return it != general.end() ? *it->second : *boxes_.at(key);
}

QButtonGroup& SettingsWindowWidget::protocolGroup() { return protocolPane_->group(); }

SettingsGeneralOptionsView& SettingsWindowWidget::generalOptionsView() { return *generalPane_; }
SettingsVPNProtocolsOptionsView& SettingsWindowWidget::vpnProtocolsOptionsView() { return *protocolPane_; }
SettingsSupportOptionsView& SettingsWindowWidget::supportOptionsView() { return *supportPane_; }

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

void SettingsWindowWidget::setKillSwitchCheckboxEnabled(bool enabled) {
    boxes_.at("useNetworkLock")->setEnabled(enabled);
    killSwitchLockedNote_->setHidden(enabled);
}

void SettingsWindowWidget::setTrustedNetworksCheckboxEnabled(bool enabled) {
    boxes_.at("enableTrustedNetworksManagement")->setEnabled(enabled);
}

void SettingsWindowWidget::setTrustedNetworksEditingEnabled(bool enabled) {
    plus_->setEnabled(enabled);
    minus_->setEnabled(enabled);
    trustedTable_->setEnabled(enabled);
}

void SettingsWindowWidget::setVersionText(const std::string& text) { supportPane_->setVersionText(text); }

DOTabbar& SettingsWindowWidget::tabbar() { return tabbarView_->tabbar(); }

void SettingsWindowWidget::selectTab(const std::string& tab) {
    const int index = std::atoi(tab.c_str()) - 1;
    if (index >= 0 && index < stack_->count()) stack_->setCurrentIndex(index);
    markToolbarItem();
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

void SettingsWindowWidget::setAddNetworkMessage(const std::string& text) {
    addMessage_->setText(QString::fromStdString(text));
    addMessage_->setVisible(!text.empty());
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
