// The kit's keyboard: Tab in reading order, the focus ring only after the
// keyboard moved the focus, Return on buttons, Escape on windows, links and
// the pane switcher's arrows.
#include <gtest/gtest.h>

#include <optional>

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "support/widget_test_app.h"
#include "view/do_tabbar_view.h"
#include "view/hyperlink_text_field.h"
#include "view/keyboard_focus_ring.h"
#include "view/kit_controls.h"
#include "view/kit_window.h"

namespace hw::test {
namespace {

class KitKeyboardTest : public ::testing::Test, public WidgetAppFirst {
protected:
    template <class W>
    W* at(int x, int y, W* widget, int w = 80, int h = 24) {
        widget->setGeometry(x, y, w, h);
        return widget;
    }
    void showActive() {
        window.resize(400, 300);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    std::vector<QString> names(const std::vector<QWidget*>& chain) {
        std::vector<QString> out;
        for (QWidget* w : chain) out.push_back(w->objectName());
        return out;
    }
    QWidget* named(const char* name) { return window.findChild<QWidget*>(name); }

    KitWindow window;
};

TEST_F(KitKeyboardTest, TabGoesThroughTheControlsInReadingOrderWhateverOrderTheyWereMadeIn) {
    struct Made {
        const char* name;
        int x, y;
    };
    // Made bottom-up and right to left; one row's tops differ by a few pixels.
    const Made made[] = {{"apply", 300, 250}, {"cancel", 200, 252}, {"link", 10, 248},
                         {"second", 10, 60},  {"first", 10, 30},    {"right", 300, 4}, {"left", 10, 8}};
    for (const auto& m : made) at(m.x, m.y, new QPushButton(m.name, &window))->setObjectName(m.name);
    auto* hidden = at(10, 100, new QPushButton("hidden", &window));
    hidden->hide();
    at(10, 130, new QPushButton("disabled", &window))->setEnabled(false);
    at(10, 160, new QLabel("label", &window));
    // Of a group of radio buttons, Tab stops at the checked one only.
    auto* group = new QButtonGroup(&window);
    for (int i = 0; i < 3; ++i) {
        auto* radio = at(150 + 70 * i, 200, new QRadioButton(QString::number(i), &window));
        radio->setObjectName(QStringLiteral("radio%1").arg(i));
        group->addButton(radio);
    }
    static_cast<QRadioButton*>(named("radio1"))->setChecked(true);
    showActive();
    const std::vector<QString> expected{"left", "right", "first", "second", "radio1", "link", "cancel", "apply"};
    EXPECT_EQ(names(keyboardChain(window)), expected);

    // Tab walks it and wraps; Shift+Tab walks back.
    std::vector<QString> walked;
    for (std::size_t i = 0; i <= expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Tab);
        walked.push_back(QApplication::focusWidget()->objectName());
    }
    EXPECT_EQ(walked.front(), "left");
    EXPECT_EQ(walked.back(), "left") << "wrapped";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "apply");
}

// A notice's close button sits in its top corner, above its link: Tab
// reaches the link first, then the close, then what follows the notice.
TEST_F(KitKeyboardTest, ANoticesCloseButtonComesAfterItsOtherControls) {
    auto* notice = at(0, 20, new QWidget(&window), 400, 60);
    at(360, 4, new QPushButton("x", notice), 24, 24)->setObjectName("close");
    at(20, 30, new QPushButton("link", notice))->setObjectName("link");
    at(10, 200, new QPushButton("below", &window))->setObjectName("below");
    at(10, 2, new QPushButton("above", &window))->setObjectName("above");
    showActive();
    EXPECT_EQ(names(keyboardChain(window)), (std::vector<QString>{"above", "close", "link", "below"}))
        << "unmarked, reading order alone";
    setTabbedLastInItsGroup(*named("close"));
    EXPECT_EQ(names(keyboardChain(window)), (std::vector<QString>{"above", "link", "close", "below"}));
}

// Keys and clicks as the display delivers them: to the window.
TEST_F(KitKeyboardTest, TheRingShowsAfterTheKeyboardMovesTheFocusAndGoesAtTheNextClick) {
    KeyboardFocusRing ring;
    auto* a = at(10, 10, new NSButtonWithHandCursor("a", &window));
    auto* b = at(10, 50, new NSButtonWithHandCursor("b", &window));
    auto* field = at(10, 90, new QLineEdit(&window), 200);
    showActive();
    EXPECT_TRUE(field->hasFocus()) << "the window opens on its field, not on a button";
    EXPECT_EQ(ring.ringedWidget(), nullptr) << "focus from a window opening draws nothing";

    QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
    ASSERT_TRUE(a->hasFocus());
    EXPECT_EQ(ring.ringedWidget(), a);
    QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
    EXPECT_EQ(ring.ringedWidget(), b) << "the ring follows the focus";

    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, field->geometry().center());
    EXPECT_EQ(ring.ringedWidget(), nullptr) << "a click ends the keyboard's ring";
    EXPECT_TRUE(field->hasFocus());
    // A click does not take the focus from the text field onto a button.
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, a->geometry().center());
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(ring.ringedWidget(), nullptr);
}

// The ring goes round what a control draws and stays whole inside the window:
// a link as wide as its row gets a ring round its words, placed as they are.
TEST_F(KitKeyboardTest, TheRingHugsALinksWordsAndStaysInsideTheWindow) {
    KeyboardFocusRing ring;
    struct Row {
        const char* name;
        QRect geometry;
        std::optional<Qt::Alignment> hugs;
    };
    const Row rows[] = {
        {"a button at the window's edge", {0, 0, 400, 40}, std::nullopt},
        {"a centred link across the window", {0, 200, 400, 22}, Qt::AlignHCenter},
        {"a left-aligned link to the right edge", {200, 240, 200, 50}, Qt::AlignLeft},
        {"a right-aligned link", {0, 100, 300, 20}, Qt::AlignRight},
    };
    std::vector<QPushButton*> controls;
    for (const Row& row : rows) {
        auto* control = new QPushButton("Need Help?", &window);
        control->setFlat(true);
        control->setGeometry(row.geometry);
        if (row.hugs) setFocusRingHugsText(*control, *row.hugs);
        controls.push_back(control);
    }
    showActive();
    QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
    const int words = controls[0]->fontMetrics().horizontalAdvance("Need Help?");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].name);
        controls[i]->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(ring.ringedWidget(), controls[i]);
        const QRect drawn = ring.ringGeometry();
        EXPECT_TRUE(window.rect().contains(drawn)) << "the ring is never cut by the window's edge";
        const QRect control = rows[i].geometry;
        if (!rows[i].hugs) {
            EXPECT_EQ(drawn, control.adjusted(-3, -3, 3, 3).intersected(window.rect()));
            continue;
        }
        EXPECT_LT(drawn.width(), words + 30) << "round the words, not the row";
        EXPECT_GE(drawn.width(), words);
        EXPECT_LE(std::abs(drawn.center().y() - control.center().y()), 1);
        if (*rows[i].hugs == Qt::AlignLeft) {
            EXPECT_EQ(drawn.left(), control.left() - 3 - 4) << "the words' padding on both sides";
        } else if (*rows[i].hugs == Qt::AlignRight) {
            EXPECT_EQ(drawn.right(), control.right() + 3 + 4);
        } else {
            EXPECT_LE(std::abs(drawn.center().x() - control.center().x()), 1);
        }
    }
}

TEST_F(KitKeyboardTest, ReturnAndEnterPressTheFocusedButtonButNotACheckBox) {
    KeyboardFocusRing ring;
    auto* button = at(10, 10, new NSButtonWithHandCursor("Cancel", &window));
    auto* box = at(10, 50, new QCheckBox("box", &window));
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    showActive();
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        button->setFocus();
        QTest::keyClick(window.windowHandle(), key);
        EXPECT_TRUE(QTest::qWaitFor([&] { return clicks == (key == Qt::Key_Return ? 1 : 2); }, 2000)) << key;
    }
    box->setFocus();
    QTest::keyClick(window.windowHandle(), Qt::Key_Return);
    EXPECT_FALSE(box->isChecked());
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_TRUE(box->isChecked()) << "Space toggles it, as Qt's boxes do";
}

TEST_F(KitKeyboardTest, EscapeClosesAWindowUnlessItIsTheMainOneOrTheUserCloseCheckRefuses) {
    struct Row {
        const char* name;
        bool closesOnEscape;
        std::optional<bool> checkAnswers;
        bool closes;
    };
    for (const Row& row : {Row{"other window", true, std::nullopt, true}, Row{"main window", false, std::nullopt, false},
                           Row{"the check allows", true, true, true}, Row{"the check refuses", true, false, false}}) {
        KitWindow w;
        int closed = 0, asked = 0;
        if (row.checkAnswers) {
            KitWindow::setUserCloseCheck([&](QWidget& closing) {
                ++asked;
                EXPECT_EQ(&closing, &w);
                return *row.checkAnswers;
            });
        }
        w.setCloseHandler([&] { ++closed; });
        w.setClosesOnEscape(row.closesOnEscape);
        auto* field = new QLineEdit(&w);
        w.show();
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Escape);
        KitWindow::setUserCloseCheck(nullptr);
        EXPECT_EQ(closed, row.closes ? 1 : 0) << row.name;
        EXPECT_EQ(w.isVisible(), !row.closes) << row.name;
        EXPECT_EQ(asked, row.checkAnswers ? 1 : 0) << row.name;
    }
}

TEST_F(KitKeyboardTest, ALinkIsReachedOnlyWithAnAddressAndOpensOnReturnOrSpace) {
    ActionLinkLabel link("Forgot?", Color::fromRgba("#15A9EAFF"), &window);
    std::vector<std::string> opened;
    link.customLinkClickHandler = [&](const std::string& url) { opened.push_back(url); };
    EXPECT_TRUE(link.focusPolicy() & Qt::TabFocus);
    for (const auto key : {Qt::Key_Return, Qt::Key_Space}) QTest::keyClick(&link, key);
    EXPECT_EQ(opened.size(), 2u);
    link.deactivated = true;
    QTest::keyClick(&link, Qt::Key_Return);
    EXPECT_EQ(opened.size(), 2u) << "a deactivated link opens nothing";

    HyperlinkTextField plain(&window);
    plain.setStringValue("no address here");
    EXPECT_EQ(plain.focusPolicy(), Qt::NoFocus);
}

// Three panes in one group; the clicks it hears, in order.
class ThreePanes : public DOTabbarDelegate {
public:
    std::vector<std::string> tabbarGroupIdentifiers(DOTabbar&) override { return {"g"}; }
    std::vector<std::string> tabbarItemIdentifiersForGroupIdentifier(DOTabbar&, const std::string&) override {
        return {"a", "b", "c"};
    }
    DOTabbarItemCell tabbarCellForItemIdentifier(DOTabbar&, const std::string& item) override {
        DOTabbarItemCell cell;
        cell.setIdentifier(item);
        cell.setTitle(item);
        return cell;
    }
    void tabbarDidSelectItemWithIdentifier(DOTabbar&, const std::string& item) override { clicked.push_back(item); }
    std::vector<std::string> clicked;
};

TEST_F(KitKeyboardTest, TheArrowsPickTheNeighbouringPaneAndStopAtTheEnds) {
    DOTabbarView bar;
    ThreePanes panes;
    bar.tabbar().setDelegate(&panes);
    bar.tabbar().selectItemWithIdentifier("a");
    EXPECT_TRUE(bar.focusPolicy() & Qt::TabFocus);
    for (const auto key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Left})
        QTest::keyClick(&bar, key);
    EXPECT_EQ(panes.clicked, (std::vector<std::string>{"b", "c", "b"}));
    bar.tabbar().setDelegate(nullptr);
}

}  // namespace
}  // namespace hw::test
