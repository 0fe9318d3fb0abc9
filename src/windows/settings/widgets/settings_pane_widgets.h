#pragma once
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "view/hyperlink_text_field.h"
#include "windows/settings/settings_pane_controllers.h"
#include "windows/settings/widgets/settings_views.h"

namespace hw {

class UserDefaultsController;

// A link of the settings window, in its link colour.
class SettingsActionLink : public ActionLinkLabel {
    Q_OBJECT
public:
    explicit SettingsActionLink(const std::string& title, QWidget* parent = nullptr);
};

// The link at the left of the Apply/Cancel bar.
class BottomBarLinkedText final : public SettingsActionLink {
    Q_OBJECT
public:
    using SettingsActionLink::SettingsActionLink;
};

class SettingsGeneralPaneWidget final : public SettingsViewDetailsSubView, public SettingsGeneralOptionsView {
    Q_OBJECT
public:
    explicit SettingsGeneralPaneWidget(UserDefaultsController& settings, QWidget* parent = nullptr);
    void setController(Settings_GeneralOptionsController* controller) { controller_ = controller; }

    void setHeaderText(const std::string& text) override;
    void showOptionBoxes(const std::vector<SettingsOptionBox>& boxes) override;
    const std::map<std::string, QCheckBox*>& boxes() const { return boxes_; }

private:
    UserDefaultsController& settings_;
    Settings_GeneralOptionsController* controller_ = nullptr;
    QVBoxLayout* layout_;
    QLabel* header_;
    std::map<std::string, QCheckBox*> boxes_;
};

class SettingsProtocolPaneWidget final : public SettingsViewDetailsSubView, public SettingsVPNProtocolsOptionsView {
    Q_OBJECT
public:
    explicit SettingsProtocolPaneWidget(UserDefaultsController& settings, QWidget* parent = nullptr);
    void setController(Settings_VPNProtocolsOptionsController* controller) { controller_ = controller; }

    void setHeaderText(const std::string& text) override;
    void showProtocolChoices(const std::vector<SettingsProtocolChoice>& choices) override;
    void setProtocolsGroupEnabled(bool enabled) override;
    QButtonGroup& group() { return *group_; }

private:
    UserDefaultsController& settings_;
    Settings_VPNProtocolsOptionsController* controller_ = nullptr;
    QVBoxLayout* layout_;
    QLabel* header_;
    QLabel* lockedNote_;
    QButtonGroup* group_;
};

class SettingsSupportPaneWidget final : public SettingsViewDetailsSubView, public SettingsSupportOptionsView {
    Q_OBJECT
public:
    explicit SettingsSupportPaneWidget(QWidget* parent = nullptr);
    void setController(Settings_SupportOptionsController* controller) { controller_ = controller; }

    void setHeaderText(const std::string& text) override;
    void showLinks(const std::vector<std::string>& titles) override;
    void setCheckForUpdatesTitle(const std::string& title) override;
    void setVersionText(const std::string& text);
    const std::vector<SettingsActionLink*>& links() const { return links_; }
    QPushButton& checkForUpdatesButton() { return *check_; }

private:
    Settings_SupportOptionsController* controller_ = nullptr;
    QVBoxLayout* links_layout_;
    QLabel* header_;
    std::vector<SettingsActionLink*> links_;
    QPushButton* check_;
    QLabel* version_;
};

}  // namespace hw
