#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording_tabbar_delegate.h"
#include "view/bf_page_control.h"
#include "view/do_tabbar.h"
#include "view/kit_popover.h"

namespace hw::test {
namespace {

TEST(PageDotsLayout, IsDotsAndGapsWide) {
    struct Row {
        long pages;
        double diameter, spacing;
        QSizeF expected;
    };
    for (const Row& row : {Row{3, 10, 5, {40, 10}}, Row{1, 10, 5, {10, 10}}, Row{0, 10, 5, {0, 10}},
                           Row{-4, 8, 5, {0, 8}}, Row{4, 7.5, 2.5, {37.5, 7.5}}}) {
        EXPECT_EQ(PageDotsLayout::intrinsicSize(row.pages, row.diameter, row.spacing), row.expected) << row.pages;
    }
}

TEST(PageDotsLayout, CentresWithTheOriginFloored) {
    // 40 wide in 101: (101 - 40) / 2 = 30.5, floored to 30; 10 high in 25: 7.5 → 7.
    const auto rects = PageDotsLayout::dotRects(3, 10, 5, QRectF(0, 0, 101, 25));
    ASSERT_EQ(rects.size(), 3u);
    EXPECT_EQ(rects[0], QRectF(30, 7, 10, 10));
    EXPECT_EQ(rects[1], QRectF(45, 7, 10, 10));
    EXPECT_EQ(rects[2], QRectF(60, 7, 10, 10));
    // Wider than the bounds: still centred, starting left of them.
    EXPECT_EQ(PageDotsLayout::dotRects(3, 10, 5, QRectF(0, 0, 20, 10))[0].x(), -10);
    EXPECT_TRUE(PageDotsLayout::dotRects(0, 10, 5, QRectF(0, 0, 100, 10)).empty());
}

std::vector<std::string> selectedCells(const DOTabbar& tabbar) {
    std::vector<std::string> out;
    for (const auto& group : tabbar.groups())
        for (const auto& cell : group.cells)
            if (cell.selected) out.push_back(cell.identifier());
    return out;
}

// A tab bar loaded from a recording delegate.
class Tabbar : public ::testing::Test {
protected:
    Tabbar() { tabbar.setDelegate(&delegate); }
    RecordingTabbarDelegate delegate;
    DOTabbar tabbar;
};

TEST_F(Tabbar, LoadsFromItsDelegateInOrder) {
    EXPECT_EQ(delegate.asked, (std::vector<std::string>{"groups", "title:groupID", "items:groupID", "cell:general",
                                                        "cell:protocol", "cell:support"}));
    ASSERT_EQ(tabbar.groups().size(), 1u);
    EXPECT_EQ(tabbar.groups()[0].cells[1].identifier(), "protocol");
    // The same delegate again loads nothing.
    delegate.asked.clear();
    tabbar.setDelegate(&delegate);
    EXPECT_TRUE(delegate.asked.empty());
}

TEST_F(Tabbar, SelectingInCodeNeverTellsTheDelegate) {
    struct Row {
        std::vector<std::string> steps;
        std::string selectedIdentifier;
        std::vector<std::string> selectedCells;
    };
    for (const Row& row : {Row{{"protocol"}, "protocol", {"protocol"}}, Row{{"protocol", "general"}, "general", {"general"}},
                           Row{{"protocol", "nothing"}, "", {}}, Row{{"support", "support"}, "support", {"support"}}}) {
        tabbar.setHoveredItem("support");
        for (const auto& step : row.steps) tabbar.selectItemWithIdentifier(step);
        EXPECT_EQ(tabbar.selectedIdentifier(), row.selectedIdentifier);
        EXPECT_EQ(selectedCells(tabbar), row.selectedCells);
        EXPECT_TRUE(delegate.selected.empty());
    }
}

TEST_F(Tabbar, SelectingClearsTheHoverAndTheSameIdentifierChangesNothing) {
    tabbar.selectItemWithIdentifier("general");
    tabbar.setHoveredItem("support");
    int changes = 0;
    tabbar.onChange = [&] { ++changes; };
    tabbar.selectItemWithIdentifier("general");
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(tabbar.groups()[0].cells[2].hovered);
    tabbar.selectItemWithIdentifier("protocol");
    EXPECT_FALSE(tabbar.groups()[0].cells[2].hovered);
}

TEST_F(Tabbar, EveryClickTellsTheDelegateAfterSelecting) {
    tabbar.clickItem("support");
    tabbar.clickItem("support");
    tabbar.clickItem("nowhere");
    EXPECT_EQ(delegate.selected, (std::vector<std::string>{"support", "support"}));
    EXPECT_EQ(delegate.selectedWhenTold, delegate.selected);
    EXPECT_EQ(tabbar.selectedIdentifier(), "support");
}

TEST_F(Tabbar, ReloadKeepsASelectionThatStillExists) {
    tabbar.selectItemWithIdentifier("support");
    tabbar.reloadData();
    EXPECT_EQ(selectedCells(tabbar), std::vector<std::string>{"support"});
    delegate.items = {"general"};
    tabbar.reloadData();
    EXPECT_EQ(tabbar.selectedIdentifier(), "");
}

TEST(KitPopover, PrefersItsSideAndStaysOnTheScreen) {
    const QRect screen(0, 0, 1600, 1000);
    const QSize size(200, 100);
    // Below a button in the middle, centred on it.
    EXPECT_EQ(KitPopover::placement(size, QRect(700, 100, 100, 30), screen, KitPopover::Edge::Below), QPoint(650, 136));
    // No room below: above.
    EXPECT_EQ(KitPopover::placement(size, QRect(700, 950, 100, 30), screen, KitPopover::Edge::Below), QPoint(650, 844));
    // At the left edge: pushed onto the screen.
    EXPECT_EQ(KitPopover::placement(size, QRect(0, 100, 20, 20), screen, KitPopover::Edge::Below).x(), 0);
    EXPECT_EQ(KitPopover::placement(size, QRect(1590, 100, 10, 20), screen, KitPopover::Edge::Below).x(), 1400);
}

}  // namespace
}  // namespace hw::test
