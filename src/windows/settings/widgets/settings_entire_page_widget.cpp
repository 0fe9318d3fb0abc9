#include "windows/settings/widgets/settings_entire_page_widget.h"

#include <QPainter>
#include <QPropertyAnimation>
#include <QSignalBlocker>

#include "core/settings_user_defaults.h"
#include "texts/locale_data.h"
#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "view/kit_geometry.h"
#include "view/user_defaults_bindings.h"
#include "windows/settings/settings_pane_controllers.h"
#include "windows/settings/settings_window_view_controller.h"
#include "windows/settings/widgets/settings_views.h"

namespace hw {

namespace {
using L = LocaleData;
using Keys = SettingsUserDefaults;
constexpr int kMargin = 24;
constexpr int kContentWidth = SettingsEntirePageWidget::kDocumentWidth - 2 * kMargin;

// The yellow note that asks to keep Wi-Fi security on.
class KeepEnabledAlert final : public QWidget {
public:
    explicit KeepEnabledAlert(QWidget* parent) : QWidget(parent) {
        auto* text = makeSettingsText(L::settings_window_wi_fi_security_alert_text(), this);
        QPalette p = text->palette();
        p.setColor(QPalette::WindowText, kitColor("#6b5400"));
        text->setPalette(p);
        text->setGeometry(12, 0, kContentWidth - 24, 32);
        text->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(kitColor("#f0d77a"));
        painter.setBrush(kitColor("#fff6d6"));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    }
};

std::vector<std::string> protocolTexts() {
    std::vector<std::string> texts;
    for (int i = 0; i < int(kSettingsProtocolChoices.size()); ++i) texts.push_back(*settingsProtocolText(i));
    return texts;
}
}  // namespace

SettingsEntirePageWidget::SettingsEntirePageWidget(UserDefaultsController& settings, QWidget* parent)
    : QWidget(parent) {
    setFixedSize(kDocumentWidth, kDocumentHeight);
    buildProtocols(settings);
    buildWiFi(settings);
    buildKillSwitch(settings);
    buildGeneral(settings);
    buildSupport();
}

int SettingsEntirePageWidget::sectionTop(SettingsOptionsSections section) {
    if (section == SettingsOptionsSections::vpnProtocols) return kDocumentHeight;
    return int(detailsYForSection(section, kDocumentHeight)) + kViewportHeight;
}

QWidget* SettingsEntirePageWidget::band(SettingsOptionsSections section, std::optional<SettingsOptionsSections> below) {
    const int top = sectionTop(section);
    const int bottom = below ? sectionTop(*below) : 0;
    auto* surface = new SettingsViewDetailsSubView(this);
    surface->setGeometry(flipRectInParent(QRectF(0, bottom, kDocumentWidth, top - bottom), kDocumentHeight).toRect());
    return surface;
}

QLabel* SettingsEntirePageWidget::lockedNoteOnHeaderRow(QWidget* section, int top) {
    QLabel* note = makeSettingsLockedNote(section);
    note->setWordWrap(false);
    note->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    note->setGeometry(kMargin, top, kContentWidth, 24);
    return note;
}

void SettingsEntirePageWidget::changed() {
    if (controller_) controller_->onParametersChanges();
}

void SettingsEntirePageWidget::buildProtocols(UserDefaultsController& settings) {
    QWidget* section = band(SettingsOptionsSections::vpnProtocols, SettingsOptionsSections::wi_Fi_Security);
    makeSettingsHeader(L::settings_window_vpn_protocols_header_label(), section)->setGeometry(kMargin, 16, kContentWidth, 24);
    protocolLockedNote_ = lockedNoteOnHeaderRow(section, 16);
    makeSettingsText(L::settings_window_vpn_protocols_select_protocol_label(), section)
        ->setGeometry(kMargin, 50, kContentWidth, 18);
    menu_ = new QComboBox(section);
    menu_->setGeometry(kMargin, 72, 220, 28);
    bindTextChoice(*menu_, settings, Keys::vpnProtocols, protocolTexts());
    connect(menu_, &QComboBox::activated, this, [this] {
        if (controller_) controller_->onVPNProtocolSelectionChanged();
    });
    description_ = makeSettingsText("", section);
    description_->setGeometry(kMargin, 110, kContentWidth, 60);
    description_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
}

void SettingsEntirePageWidget::buildWiFi(UserDefaultsController& settings) {
    QWidget* section = band(SettingsOptionsSections::wi_Fi_Security, SettingsOptionsSections::killSwitch);
    makeSettingsHeader(L::settings_window_wi_fi_security_header_label(), section)
        ->setGeometry(kMargin, 14, kContentWidth, 24);
    wifi_ = makeSettingsCheckBox(L::settings_window_wi_fi_security_enable_checkbox(), section);
    wifi_->setGeometry(kMargin, 44, kContentWidth, 38);
    bindCheckBox(*wifi_, settings, Keys::wi_fi_SecurityEnabled);
    connect(wifi_, &QCheckBox::toggled, this, [this](bool on) {
        if (controller_) controller_->onWiFiSecurity_Enabled_Changed(on);
    });
    wifiDescription_ = makeSettingsText(L::settings_window_wi_fi_security_description(), section);
    wifiDescription_->setGeometry(kMargin, 88, kContentWidth, 48);
    wifiDescription_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    alert_ = new KeepEnabledAlert(section);
    alert_->setGeometry(keepEnabledAlertRestFrame());
    alert_->hide();
}

QRect SettingsEntirePageWidget::keepEnabledAlertRestFrame() const {
    // Under the description, inside the space its bottom padding leaves.
    return QRect(kMargin, wifiDescription_->geometry().bottom() + 6, kContentWidth, 32);
}

void SettingsEntirePageWidget::buildKillSwitch(UserDefaultsController& settings) {
    QWidget* section = band(SettingsOptionsSections::killSwitch, SettingsOptionsSections::general);
    makeSettingsHeader(L::settings_window_kill_switch_header_label(), section)->setGeometry(kMargin, 14, kContentWidth, 24);
    killSwitchLockedNote_ = lockedNoteOnHeaderRow(section, 14);
    killSwitch_ = makeSettingsCheckBox(L::settings_window_kill_switch_enable_checkbox(), section);
    killSwitch_->setGeometry(kMargin, 44, kContentWidth, 38);
    bindCheckBox(*killSwitch_, settings, Keys::useNetworkLock);
    connect(killSwitch_, &QCheckBox::toggled, this, &SettingsEntirePageWidget::changed);
    auto* description = makeSettingsText(L::settings_window_kill_switch_description(), section);
    description->setGeometry(kMargin, 88, kContentWidth, 60);
    description->setAlignment(Qt::AlignTop | Qt::AlignLeft);
}

void SettingsEntirePageWidget::buildGeneral(UserDefaultsController& settings) {
    QWidget* section = band(SettingsOptionsSections::general, SettingsOptionsSections::support);
    makeSettingsHeader(L::settings_window_general_options_header_label(), section)
        ->setGeometry(kMargin, 14, kContentWidth, 24);
    int y = 46;
    for (const auto& [text, key] : Settings_GeneralOptionsController::optionBoxes()) {
        auto* box = makeSettingsCheckBox(text, section);
        box->setGeometry(kMargin, y, kContentWidth, 24);
        bindCheckBox(*box, settings, key);
        connect(box, &QCheckBox::toggled, this, &SettingsEntirePageWidget::changed);
        y += 27;
    }
}

void SettingsEntirePageWidget::buildSupport() {
    QWidget* section = band(SettingsOptionsSections::support, std::nullopt);
    makeSettingsHeader(L::settings_window_support_options_header_label(), section)
        ->setGeometry(kMargin, 14, kContentWidth, 24);
    using Action = std::function<void(Settings_EntirePageController&)>;
    const std::pair<const std::string&, Action> links[] = {
        {L::settings_window_support_create_ticket_label(), [](auto& c) { c.onOpenSupportTicket_click(); }},
        {L::settings_window_support_knowledge_base_label(), [](auto& c) { c.onKnowledgeBase_click(); }},
        {L::settings_window_support_run_speed_test_label(), [](auto& c) { c.onRunSpeedTest_click(); }},
    };
    int y = 46;
    for (const auto& [text, action] : links) {
        auto* link = makeSettingsLink(text, section);
        link->setGeometry(kMargin, y, kContentWidth, 24);
        connect(link, &QPushButton::clicked, this, [this, action = action] {
            if (auto* page = controller_ ? controller_->entirePageSettingsController() : nullptr) action(*page);
        });
        y += 28;
    }
    version_ = makeSettingsText("", section);
    version_->setGeometry(kMargin, 150, kContentWidth, 20);
}

void SettingsEntirePageWidget::setProtocolMenuItems(const std::vector<std::string>& titles) {
    const QSignalBlocker quiet(menu_);
    menu_->clear();
    for (const auto& title : titles) menu_->addItem(QString::fromStdString(title));
    menu_->setCurrentIndex(-1);
}

void SettingsEntirePageWidget::selectProtocolMenuItem(int index) {
    const QSignalBlocker quiet(menu_);
    menu_->setCurrentIndex(index < menu_->count() ? index : -1);
}

void SettingsEntirePageWidget::setProtocolDescription(const std::string& text) {
    description_->setText(QString::fromStdString(text));
}

void SettingsEntirePageWidget::setProtocolsChangingEnabled(bool enabled) {
    menu_->setEnabled(enabled);
    killSwitch_->setEnabled(enabled);
    protocolLockedNote_->setHidden(enabled);
    killSwitchLockedNote_->setHidden(enabled);
}

void SettingsEntirePageWidget::setVersionText(const std::string& text) { version_->setText(QString::fromStdString(text)); }

void SettingsEntirePageWidget::setWiFiDescriptionPaddingBottom(double points) { paddingBottom_ = points; }

void SettingsEntirePageWidget::hideKeepEnabledAlert() { alert_->hide(); }

void SettingsEntirePageWidget::slideInKeepEnabledAlert(double offset) {
    const QRect rest = keepEnabledAlertRestFrame();
    alert_->show();
    // y-up "raised by offset" is Qt's y minus offset.
    alert_->move(rest.x(), rest.y() - int(offset));
    auto* slide = new QPropertyAnimation(alert_, "pos", alert_);
    slide->setDuration(250);
    slide->setEndValue(rest.topLeft());
    slide->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace hw
