#pragma once
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QStackedWidget>
#include <memory>

#include "view/kit_window.h"
#include "windows/settings/settings_window_view.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QPushButton;
class QToolBar;
class QToolButton;

namespace hw {

class ActivityIndicatorWithImage;
class AutoUpdateModalOverlay;
class BottomBarLinkedText;
class SettingsGeneralPaneWidget;
class SettingsProtocolPaneWidget;
class SettingsSupportPaneWidget;
class DOTabbarView;
class SettingsEntirePageWidget;
class SettingTableView;
class SettingsViewDetailsArea;
class SettingsWindowViewController;
class TextViewWithPlaceHolder;
class UserDefaultsController;

// A list of networks by SSID. SSIDs are octets: shown lossily, kept as they are.
class NetworksListWidget final : public QListWidget, public NetworksTableView {
    Q_OBJECT
public:
    explicit NetworksListWidget(QWidget* parent = nullptr);
    void reloadNetworks(const std::vector<TrustedNetworkItem>& rows) override;
};

enum class SettingsLayout { Tabbed, List };

// The settings window: the tab bar over the five panes (or the list beside
// the single page), Apply and Cancel, the two sheets and the update cover.
// Draws and forwards; every decision is the controller's.
class SettingsWindowWidget final : public KitWindow, public SettingsWindowView {
    Q_OBJECT
public:
    SettingsWindowWidget(UserDefaultsController& settings, SettingsLayout layout, QWidget* parent = nullptr);
    ~SettingsWindowWidget() override;

    void setController(SettingsWindowViewController* controller);
    SettingsLayout layoutKind() const { return layout_; }
    // The single page of the list layout; none in the tabbed one.
    SettingsEntirePageWidget* entirePage() const { return entirePage_; }

    // SettingsWindowView.
    void setApplyEnabled(bool enabled) override;
    void setKillSwitchCheckboxEnabled(bool enabled) override;
    SettingsGeneralOptionsView& generalOptionsView() override;
    SettingsVPNProtocolsOptionsView& vpnProtocolsOptionsView() override;
    SettingsSupportOptionsView& supportOptionsView() override;
    void setTrustedNetworksCheckboxEnabled(bool enabled) override;
    void setTrustedNetworksEditingEnabled(bool enabled) override;
    NetworksTableView& trustedNetworksTable() override { return *trustedTable_; }
    long selectedTrustedNetworkRow() const override { return trustedTable_->currentRow(); }
    void setVersionText(const std::string& text) override;
    DOTabbar& tabbar() override;
    void selectTab(const std::string& tab) override;
    std::string selectedTab() const override;
    void beginAddNetworkSheet() override;
    void endAddNetworkSheet() override;
    void setAddNetworkLoading(bool loading) override;
    void setAddNetworkMessage(const std::string& text) override;
    NetworksTableView& availableNetworksTable() override { return *availableTable_; }
    long selectedAvailableNetworkRow() const override { return availableTable_->currentRow(); }
    void beginSupportTicketSheet() override;
    void endSupportTicketSheet() override;
    std::string supportTopic() const override;
    std::optional<std::string> supportTicketBody() const override;
    void fadeInAutoUpdateOverlay(double seconds) override;
    void fadeOutAutoUpdateOverlay(double seconds, std::function<void()> done) override;
    void hideAutoUpdateOverlay() override;
    void reloadSettingsList(const std::vector<SettingsListItemModel>& rows) override;
    void setSettingsListRowBackground(int row, const std::string& colour) override;
    void selectSettingsListRow(int row) override;
    void scrollDetailsToY(double y) override;
    double detailsDocumentHeight() const override;

    // For tests and screenshots.
    QPushButton& applyButton() { return *apply_; }
    QPushButton& cancelButton() { return *cancel_; }
    QCheckBox& checkBox(const std::string& key);
    QButtonGroup& protocolGroup();
    SettingsSupportPaneWidget& supportPane() { return *supportPane_; }
    BottomBarLinkedText& knowledgeBaseLink() { return *knowledgeBase_; }
    // The window's toolbar; none in the list layout.
    QToolBar* toolbar() const { return toolbar_; }
    QDialog& addNetworkSheet() { return *addSheet_; }
    QDialog& supportTicketSheet() { return *supportSheet_; }
    QComboBox& supportTopicMenu() { return *topics_; }
    TextViewWithPlaceHolder& supportTicketBodyField() { return *body_; }
    QWidget& autoUpdateOverlay();
    SettingTableView* settingsList() const { return list_; }
    SettingsViewDetailsArea* detailsArea() const { return details_; }
    DOTabbarView& tabbarView() { return *tabbarView_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildAutoWiFiPane();
    QWidget* buildKillSwitchPane();
    QWidget* buildSupportPane();
    void buildAddNetworkSheet();
    void buildSupportTicketSheet();
    QWidget* buildBottomBar();
    void buildToolbar();
    void markToolbarItem();
    QCheckBox* boundBox(const std::string& text, const char* key, QWidget* parent);
    void changed();

    UserDefaultsController& settings_;
    SettingsLayout layout_;
    SettingsWindowViewController* controller_ = nullptr;
    DOTabbarView* tabbarView_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
    std::map<std::string, QCheckBox*> boxes_;
    QLabel* killSwitchLockedNote_ = nullptr;
    SettingsGeneralPaneWidget* generalPane_ = nullptr;
    SettingsProtocolPaneWidget* protocolPane_ = nullptr;
    SettingsSupportPaneWidget* supportPane_ = nullptr;
    BottomBarLinkedText* knowledgeBase_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    NetworksListWidget* trustedTable_ = nullptr;
    QToolButton* plus_ = nullptr;
    QToolButton* minus_ = nullptr;
    QDialog* addSheet_ = nullptr;
    NetworksListWidget* availableTable_ = nullptr;
    ActivityIndicatorWithImage* spinner_ = nullptr;
    QLabel* addMessage_ = nullptr;
    QDialog* supportSheet_ = nullptr;
    QComboBox* topics_ = nullptr;
    TextViewWithPlaceHolder* body_ = nullptr;
    AutoUpdateModalOverlay* overlay_ = nullptr;
    SettingTableView* list_ = nullptr;
    SettingsViewDetailsArea* details_ = nullptr;
    SettingsEntirePageWidget* entirePage_ = nullptr;
};

}  // namespace hw
