// The panes without controllers of their own and the two sheets of the settings window.
#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/settings_user_defaults.h"
#include "texts/locale_data.h"
#include "view/activity_indicator_with_image.h"
#include "view/kit_controls.h"
#include "view/kit_fonts.h"
#include "view/user_defaults_bindings.h"
#include "windows/settings/settings_window_view_controller.h"
#include "windows/settings/widgets/settings_views.h"
#include "windows/settings/widgets/settings_window_widget.h"

namespace hw {

namespace {
using L = LocaleData;
using Keys = SettingsUserDefaults;

QVBoxLayout* paneLayout(QWidget* pane, const std::string& header) {
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(32, 22, 32, 18);
    layout->setSpacing(8);
    layout->addWidget(makeSettingsHeader(header, pane));
    layout->addSpacing(4);
    return layout;
}

// A sheet's closing row at the right: the dismissing button, then the default one.
std::pair<QPushButton*, QPushButton*> addSheetButtons(QDialog* sheet, QVBoxLayout* layout, const std::string& dismiss,
                                                      const std::string& confirm) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* no = new QPushButton(QString::fromStdString(dismiss), sheet);
    auto* yes = new QPushButton(QString::fromStdString(confirm), sheet);
    yes->setDefault(true);
    row->addWidget(no);
    row->addWidget(yes);
    layout->addLayout(row);
    return {no, yes};
}

// Descriptions sit under their control, indented to its text.
QLabel* indented(QLabel* label) {
    label->setContentsMargins(24, 0, 0, 6);
    return label;
}
}  // namespace

QCheckBox* SettingsWindowWidget::boundBox(const std::string& text, const char* key, QWidget* parent) {
    auto* box = makeSettingsCheckBox(text, parent);
    bindCheckBox(*box, settings_, key);
    boxes_[key] = box;
    return box;
}

QWidget* SettingsWindowWidget::buildAutoWiFiPane() {
    auto* pane = new SettingsViewDetailsSubView;
    auto* layout = paneLayout(pane, L::settings_window_wi_fi_security_header_label());
    auto* wifi = boundBox(L::settings_window_wi_fi_security_enable_checkbox(), Keys::wi_fi_SecurityEnabled, pane);
    connect(wifi, &QCheckBox::toggled, this, [this](bool on) {
        if (controller_) controller_->onWiFiSecurity_Enabled_Changed(on);
    });
    layout->addWidget(wifi);
    layout->addWidget(indented(makeSettingsText(L::settings_window_wi_fi_security_description(), pane)));

    auto* trusted = boundBox(L::settings_window_trusted_networks_checkbox(), Keys::enableTrustedNetworksManagement, pane);
    connect(trusted, &QCheckBox::toggled, this, [this](bool on) {
        if (controller_) controller_->onTrustedNetworksManagementChanged(on);
    });
    layout->addWidget(trusted);
    layout->addWidget(indented(makeSettingsText(L::settings_window_trusted_networks_description(), pane)));
    trustedTable_ = new NetworksListWidget(pane);
    trustedTable_->setMinimumHeight(96);
    layout->addWidget(trustedTable_, 1);

    // The plus/minus pair under the table.
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    plus_ = new QToolButton(pane);
    plus_->setText("+");
    minus_ = new QToolButton(pane);
    minus_->setText(QString::fromUtf8("\u2212"));
    int segment = 0;
    for (QToolButton* button : {plus_, minus_}) {
        button->setFixedSize(28, 22);
        segments->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, segment] {
            if (controller_) controller_->onAuto_WiFi_Trusted_table_Segmented_control_Click(segment);
        });
        ++segment;
    }
    segments->addStretch(1);
    layout->addLayout(segments);
    return pane;
}

QWidget* SettingsWindowWidget::buildKillSwitchPane() {
    auto* pane = new SettingsViewDetailsSubView;
    auto* layout = paneLayout(pane, L::settings_window_kill_switch_header_label());
    auto* box = boundBox(L::settings_window_kill_switch_enable_checkbox(), Keys::useNetworkLock, pane);
    connect(box, &QCheckBox::toggled, this, &SettingsWindowWidget::changed);
    layout->addWidget(box);
    layout->addWidget(indented(makeSettingsText(L::settings_window_kill_switch_description(), pane)));
    killSwitchLockedNote_ = indented(makeSettingsLockedNote(pane));
    layout->addWidget(killSwitchLockedNote_);
    layout->addStretch(1);
    return pane;
}

void SettingsWindowWidget::buildAddNetworkSheet() {
    addSheet_ = new QDialog(this);
    addSheet_->setWindowModality(Qt::WindowModal);
    addSheet_->setWindowTitle(QString::fromStdString(L::settings_window_add_new_trusted_network()));
    addSheet_->setFixedSize(380, 320);
    auto* layout = new QVBoxLayout(addSheet_);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->addWidget(makeSettingsHeader(L::settings_window_add_new_trusted_network(), addSheet_));
    availableTable_ = new NetworksListWidget(addSheet_);
    layout->addWidget(availableTable_, 1);
    addMessage_ = makeSettingsText({}, addSheet_);
    addMessage_->hide();
    layout->addWidget(addMessage_);
    spinner_ = new ActivityIndicatorWithImage(availableTable_);
    spinner_->setImageName("Activity_spinner");
    spinner_->setGeometry(340 / 2 - 16, 70, 32, 32);
    spinner_->hide();
    const auto [close, add] =
        addSheetButtons(addSheet_, layout, L::settings_window_close_button(), L::settings_window_add_network_button());
    connect(close, &QPushButton::clicked, this, [this] {
        if (controller_) controller_->onCloseTrustedNetworkModalWindow();
        else addSheet_->reject();
    });
    connect(add, &QPushButton::clicked, this, [this] {
        if (controller_) controller_->onAddNetworkButton_Click();
    });
    connect(availableTable_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (controller_) controller_->onAvailableNetworkDoubleClick(availableTable_->row(item));
    });
    connect(addSheet_, &QDialog::finished, this, [this](int code) {
        if (controller_) controller_->addNetworkSheetEnded(code);
    });
}

void SettingsWindowWidget::buildSupportTicketSheet() {
    supportSheet_ = new QDialog(this);
    supportSheet_->setWindowModality(Qt::WindowModal);
    supportSheet_->setWindowTitle(QString::fromStdString(L::settings_window_support_create_ticket_label()));
    supportSheet_->setFixedSize(420, 330);
    auto* layout = new QVBoxLayout(supportSheet_);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->addWidget(makeSettingsHeader(L::settings_window_support_create_ticket_label(), supportSheet_));
    auto* topicRow = new QHBoxLayout;
    topicRow->addWidget(makeSettingsText(L::settings_window_support_topic_label(), supportSheet_));
    topics_ = new QComboBox(supportSheet_);
    for (const std::string* topic :
         {&L::settings_window_support_topic_connection(), &L::settings_window_support_topic_billing(),
          &L::settings_window_support_topic_account(), &L::settings_window_support_topic_other()})
        topics_->addItem(QString::fromStdString(*topic));
    topicRow->addWidget(topics_, 1);
    layout->addLayout(topicRow);
    body_ = new TextViewWithPlaceHolder(supportSheet_);
    layout->addWidget(body_, 1);
    const auto [cancel, send] = addSheetButtons(supportSheet_, layout, L::settings_window_cancel_button(),
                                                L::settings_window_support_ticket_send_button());
    connect(cancel, &QPushButton::clicked, this, [this] {
        if (controller_) controller_->onOpenSupportModalWindowClose();
        else supportSheet_->reject();
    });
    connect(send, &QPushButton::clicked, this, [this] {
        if (controller_) controller_->onOpenSupportTicket_Submit_button_Click();
    });
    connect(supportSheet_, &QDialog::finished, this, [this](int code) {
        if (controller_) controller_->supportTicketSheetEnded(code);
    });
}

}  // namespace hw
