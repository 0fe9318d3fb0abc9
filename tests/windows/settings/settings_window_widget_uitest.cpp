#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolBar>

#include "settings_window_fixture.h"
#include "support/manual_animation_driver.h"
#include "support/widget_test_app.h"
#include "view/do_tabbar_view.h"
#include "view/kit_fades.h"
#include "windows/settings/widgets/settings_entire_page_widget.h"
#include "windows/settings/widgets/settings_pane_widgets.h"
#include "windows/settings/widgets/settings_views.h"
#include "windows/settings/widgets/settings_window_widget.h"

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;

// The real window on the controller, offscreen.
struct SettingsWidgetFixture : WidgetAppFirst, SettingsWindowFixture {
    explicit SettingsWidgetFixture(SettingsLayout layout = SettingsLayout::Tabbed) : widget(defaults, layout) {
        hasWiFi = false;
        controller = std::make_unique<SettingsWindowViewController>(context, widget, widget, dependencies(),
                                                                    widget.entirePage());
        widget.setController(controller.get());
    }
    ~SettingsWidgetFixture() {
        widget.setController(nullptr);
        controller.reset();
    }

    ManualAnimationDriver animations;
    SettingsWindowWidget widget;
};

class SettingsWindowWidgetTest : public ::testing::Test {};

// A network's name is any 32 octets: each row stays one line, and control
// characters, bidi controls and octets that are not UTF-8 show as U+FFFD.
TEST_F(SettingsWindowWidgetTest, ANetworkNameShowsOnOneLineWhateverItsOctets) {
    WidgetAppFirst app;
    struct Row {
        const char* name;
        std::string ssid;
        QString shown;
    };
    const std::vector<Row> rows{
        {"plain", "Cafe Wi-Fi", QStringLiteral("Cafe Wi-Fi")},
        {"a line end", "two\nlines", QString::fromUtf8("two\uFFFDlines")},
        {"an escape", "red\x1b[31m", QString::fromUtf8("red\uFFFD[31m")},
        {"a tab and a delete", "a\tb\x7f", QString::fromUtf8("a\uFFFDb\uFFFD")},
        {"a line separator", "a\xe2\x80\xa8" "b", QString::fromUtf8("a\uFFFDb")},
        {"not UTF-8", "caf\xe9", QString::fromUtf8("caf\uFFFD")},
        {"a right-to-left override", "abc\xe2\x80\xaegnp.exe", QString::fromUtf8("abc\uFFFDgnp.exe")},
        {"marks", "a\xe2\x80\x8e" "b\xe2\x80\x8f" "c\xd8\x9c", QString::fromUtf8("a\uFFFDb\uFFFDc\uFFFD")},
        {"embeddings and isolates", "\xe2\x80\xaa" "a\xe2\x80\xac\xe2\x81\xa7" "b\xe2\x81\xa9",
         QString::fromUtf8("\uFFFDa\uFFFD\uFFFDb\uFFFD")},
        {"UTF-8", "Caf\xc3\xa9 \xe2\x98\x95", QString::fromUtf8("Caf\u00E9 \u2615")},
    };
    NetworksListWidget list;
    std::vector<TrustedNetworkItem> items;
    for (const Row& row : rows) items.push_back({row.ssid, "aa:bb\n"});
    list.reloadNetworks(items);
    ASSERT_EQ(list.count(), int(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(list.item(int(i))->text(), rows[i].shown) << rows[i].name;
        EXPECT_FALSE(list.item(int(i))->toolTip().contains(QChar('\n'))) << rows[i].name;
    }
}

TEST_F(SettingsWindowWidgetTest, ProtocolCellsStoreTheRawTextAndAnUnofferedTextChecksNone) {
    SettingsWidgetFixture f;
    f.defaults.setAppliesImmediately(true);
    f.defaults.setValue(Keys::vpnProtocols, std::string(" PPTP"));
    f.defaults.setAppliesImmediately(false);
    f.open();
    QButtonGroup& cells = f.widget.protocolGroup();
    EXPECT_EQ(cells.checkedButton(), nullptr);
    EXPECT_FALSE(f.widget.applyButton().isEnabled());
    cells.button(1)->click();
    EXPECT_TRUE(f.widget.applyButton().isEnabled());
    f.widget.cancelButton().click();
    EXPECT_EQ(cells.checkedButton(), nullptr) << "Cancel shows the stored value again";
    EXPECT_FALSE(f.defaults.hasUnappliedChanges());

    f.open();
    f.widget.checkBox(Keys::startMinimized).click();
    f.widget.applyButton().click();
    EXPECT_EQ(f.stored(Keys::vpnProtocols), SettingValue(std::string(" PPTP"))) << "stays until the user picks";

    f.open();
    cells.button(2)->click();
    EXPECT_EQ(cells.button(2)->text().toStdString(), " L2TP over IPSEC");
    EXPECT_TRUE(f.widget.applyButton().isEnabled());
    f.widget.applyButton().click();
    EXPECT_EQ(f.stored(Keys::vpnProtocols), SettingValue(std::string(" L2TP over IPSec")));

    f.open();
    ASSERT_EQ(cells.buttons().size(), 4);
    cells.button(3)->click();
    f.widget.applyButton().click();
    EXPECT_EQ(f.stored(Keys::vpnProtocols), SettingValue(std::string(" IKEv2 "))) << "IKEv2 through strongSwan";
}

TEST_F(SettingsWindowWidgetTest, TheLockDisablesTheCellsAndTheKillSwitch) {
    SettingsWidgetFixture f;
    f.model.setVpnSettingsChangingDisabled(true);
    f.open();
    for (QAbstractButton* cell : f.widget.protocolGroup().buttons()) EXPECT_FALSE(cell->isEnabled());
    EXPECT_FALSE(f.widget.checkBox(Keys::useNetworkLock).isEnabled());
    f.model.setVpnSettingsChangingDisabled(false);
    f.queue.runUntilIdle();
    EXPECT_TRUE(f.widget.checkBox(Keys::useNetworkLock).isEnabled());
}

TEST_F(SettingsWindowWidgetTest, ToolbarAndLinksDriveTheControllerAndFollowThePane) {
    SettingsWidgetFixture f;
    f.knowledgeBase = "https://help.havenway.test/";
    f.open();
    QToolBar& bar = *f.widget.toolbar();
    ASSERT_EQ(bar.actions().size(), 5);
    EXPECT_EQ(bar.actions()[1]->text().toStdString(), "Protocol") << "the label without its padding blanks";
    EXPECT_TRUE(bar.actions()[0]->isChecked());
    bar.actions()[4]->trigger();
    EXPECT_EQ(f.widget.selectedTab(), "5");
    f.widget.tabbarView().tabbar().clickItem(settingsPaneItems()[1].identifier);
    EXPECT_TRUE(bar.actions()[1]->isChecked()) << "the tab bar's choice shows in the toolbar";

    // Links are clicked where their text is.
    auto click = [](QWidget& link) {
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(3, link.height() / 2));
    };
    f.widget.show();
    click(f.widget.knowledgeBaseLink());
    EXPECT_EQ(f.urlOpener.opened, std::vector<std::string>{"https://help.havenway.test/"});
    f.widget.selectTab("5");
    click(*f.widget.supportPane().links().at(0));
    EXPECT_TRUE(f.widget.supportTicketSheet().isVisible());
    f.widget.supportTicketSheet().reject();
}

TEST_F(SettingsWindowWidgetTest, SettingTableViewDrawsNoGridBelowItsLastRow) {
    WidgetAppFirst app;
    SettingTableView table;
    table.resize(220, 400);
    QImage empty(table.size(), QImage::Format_ARGB32);
    table.render(&empty);
    EXPECT_TRUE(table.gridRect(table.viewport()->rect()).isEmpty());

    table.setRows(settingsListRows());
    table.show();
    QImage drawn(table.size(), QImage::Format_ARGB32);
    table.render(&drawn);
    const int lastBottom = table.rowViewportPosition(4) + table.rowHeight(4);
    EXPECT_EQ(drawn.pixelColor(110, lastBottom - 1), SettingTableView::gridColour()) << "under the last row";
    for (int y = lastBottom + 1; y < table.height(); y += 7)
        EXPECT_NE(drawn.pixelColor(110, y), SettingTableView::gridColour()) << "y " << y;
    EXPECT_EQ(table.gridRect(QRect(0, 0, 220, 400)).bottom(), lastBottom - 1);
}

TEST_F(SettingsWindowWidgetTest, TheUpdateCoverDimsToFortyPercentAndHidesAfterItsFadeOut) {
    SettingsWidgetFixture f;
    f.open();
    f.widget.fadeInAutoUpdateOverlay(0.3);
    f.animations.advanceInSteps(300);
    EXPECT_TRUE(f.widget.autoUpdateOverlay().isVisible());
    EXPECT_NEAR(viewOpacity(f.widget.autoUpdateOverlay()), 0.4, 0.01);
    f.controller->autoUpdaterSheetEnded();
    f.animations.advanceInSteps(100);
    EXPECT_TRUE(f.widget.autoUpdateOverlay().isVisible()) << "fading, not gone";
    EXPECT_LT(viewOpacity(f.widget.autoUpdateOverlay()), 0.4);
    f.animations.advanceInSteps(1000);
    EXPECT_FALSE(f.widget.autoUpdateOverlay().isVisible());
}

TEST_F(SettingsWindowWidgetTest, ListLayoutScrollsToTheSectionAndTheWarningSlidesIntoPlace) {
    SettingsWidgetFixture f(SettingsLayout::List);
    f.open();
    SettingsViewDetailsArea& details = *f.widget.detailsArea();
    EXPECT_EQ(details.verticalScrollBar()->value(), 0) << "starts at the top, the protocol section";
    EXPECT_EQ(f.widget.entirePage()->protocolMenu().count(), 3);

    f.controller->tableViewShouldSelectRow(1);
    f.animations.advanceInSteps(300);
    EXPECT_NEAR(details.detailsY(), 684.0, 1.0);
    EXPECT_EQ(f.controller->previouslySelectedRow(), 1);
    const double viewport = details.viewport()->height();
    const double height = SettingsEntirePageWidget::kDocumentHeight;
    EXPECT_DOUBLE_EQ(details.verticalScrollBar()->value(), height - 684 - viewport);
    EXPECT_DOUBLE_EQ(detailsYForScrollValue(height, height - 684 - viewport, viewport), 684);

    SettingsEntirePageWidget& page = *f.widget.entirePage();
    page.wiFiSecurityCheckbox().click();
    const QRect rest = page.keepEnabledAlertRestFrame();
    EXPECT_TRUE(page.keepEnabledAlert().isVisible());
    EXPECT_EQ(page.keepEnabledAlert().y(), rest.y() - 100) << "starts 100 points higher";
    f.animations.advanceInSteps(300);
    EXPECT_EQ(page.keepEnabledAlert().geometry(), rest);
    page.wiFiSecurityCheckbox().click();
    EXPECT_FALSE(page.keepEnabledAlert().isVisible());
}

}  // namespace
}  // namespace hw::test
