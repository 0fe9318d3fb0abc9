#pragma once
#include <QComboBox>
#include <QWidget>

#include "windows/settings/settings_entire_page_controller.h"
#include "windows/settings/settings_window_logic.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace hw {

class SettingsWindowViewController;
class UserDefaultsController;

// The single page: every option in one tall document, laid out in the
// list's y-up bands (Support lowest). Its boxes and pop-up are bound to the
// pending settings; changes go to the settings window's controller.
class SettingsEntirePageWidget final : public QWidget, public SettingsEntirePageView {
    Q_OBJECT
public:
    static constexpr int kDocumentWidth = 440;
    // Each section's top sits one view height above the position its list
    // row scrolls to, so choosing a row shows that section at the top.
    static constexpr int kViewportHeight = 466;
    static constexpr int kDocumentHeight = 1350;
    // The y-up top edge of a section in the document.
    static int sectionTop(SettingsOptionsSections section);

    explicit SettingsEntirePageWidget(UserDefaultsController& settings, QWidget* parent = nullptr);
    void setController(SettingsWindowViewController* controller) { controller_ = controller; }

    void setProtocolMenuItems(const std::vector<std::string>& titles) override;
    void selectProtocolMenuItem(int index) override;
    int selectedProtocolMenuItem() const override { return menu_->currentIndex(); }
    void setProtocolDescription(const std::string& text) override;
    void setProtocolsChangingEnabled(bool enabled) override;
    void setVersionText(const std::string& text) override;
    void setWiFiDescriptionPaddingBottom(double points) override;
    void hideKeepEnabledAlert() override;
    void slideInKeepEnabledAlert(double offset) override;

    QComboBox& protocolMenu() { return *menu_; }
    QWidget& keepEnabledAlert() { return *alert_; }
    QRect keepEnabledAlertRestFrame() const;
    QCheckBox& wiFiSecurityCheckbox() { return *wifi_; }
    QCheckBox& killSwitchCheckbox() { return *killSwitch_; }

private:
    QWidget* band(SettingsOptionsSections section, std::optional<SettingsOptionsSections> below);
    void buildProtocols(UserDefaultsController& settings);
    void buildWiFi(UserDefaultsController& settings);
    void buildKillSwitch(UserDefaultsController& settings);
    QLabel* lockedNoteOnHeaderRow(QWidget* section, int top);
    void buildGeneral(UserDefaultsController& settings);
    void buildSupport();
    void changed();

    SettingsWindowViewController* controller_ = nullptr;
    QComboBox* menu_ = nullptr;
    QLabel* description_ = nullptr;
    QCheckBox* wifi_ = nullptr;
    QLabel* wifiDescription_ = nullptr;
    QWidget* alert_ = nullptr;
    QCheckBox* killSwitch_ = nullptr;
    QLabel* protocolLockedNote_ = nullptr;
    QLabel* killSwitchLockedNote_ = nullptr;
    QLabel* version_ = nullptr;
    double paddingBottom_ = 59.0;
};

}  // namespace hw
