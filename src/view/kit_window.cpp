#include "view/kit_window.h"

#include <QCloseEvent>
#include <QButtonGroup>
#include <QGuiApplication>
#include <QRadioButton>
#include <algorithm>
#include <QKeyEvent>
#include <QMoveEvent>
#include <QScreen>

#include "view/hyperlink_text_field.h"
#include "view/keyboard_focus_ring.h"
#include "view/kit_controls.h"
#include "view/kit_geometry.h"

namespace hw {
namespace {
constexpr char kTabbedLast[] = "hw_tabbedLastInItsGroup";

std::function<bool(QWidget&)>& userCloseCheck() {
    static std::function<bool(QWidget&)> check;
    return check;
}
}  // namespace

void KitWindow::setUserCloseCheck(std::function<bool(QWidget& closing)> check) { userCloseCheck() = std::move(check); }

bool KitWindow::userMayClose(QWidget& closing) {
    const auto& check = userCloseCheck();
    return !check || check(closing);
}

KitWindow::KitWindow(QWidget* parent) : QWidget(parent, Qt::Window) {}

KitWindow::~KitWindow() = default;

void KitWindow::setTitle(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }

std::string KitWindow::title() const { return windowTitle().toStdString(); }

void KitWindow::show() {
    const bool wasShown = QWidget::isVisible();
    // A window that cannot grow offers no maximize button: the window
    // manager hears it from the size hints and from the decoration hints.
    const Qt::WindowFlags flags = windowFlags();
    if (minimumSize() == maximumSize() && windowType() == Qt::Window &&
        !(flags & (Qt::CustomizeWindowHint | Qt::FramelessWindowHint)) && (flags & Qt::WindowMaximizeButtonHint)) {
        // Changing flags re-creates a shown window; it must stay where it is.
        const QPoint at = pos();
        setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
        if (wasShown) move(at);
    }
    QWidget::show();
    raise();
    activateWindow();
    // The map goes to the display now rather than when the event loop next
    // runs: the launch goes on after its first window with work that draws nothing.
    if (!wasShown) QGuiApplication::sync();
}

void KitWindow::orderOut() { QWidget::hide(); }

void KitWindow::close() { QWidget::close(); }

bool KitWindow::isVisible() const { return QWidget::isVisible(); }

void setFrameOriginToPositionWindowInCenterOfScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (!screen) return;
    // By the content's size: the frame's is only known once the window has
    // been shown, and a window that grew a title bar between two openings
    // would otherwise stand higher at each one.
    window.move(centeredOrigin(window.size(), screen->availableGeometry()));
}

void KitWindow::center() { setFrameOriginToPositionWindowInCenterOfScreen(*this); }

WindowFrame KitWindow::frame() const {
    const QRect g = geometry();
    return {double(g.x()), double(g.y()), double(g.width()), double(g.height())};
}

void KitWindow::setFrame(const WindowFrame& frame) {
    QRect wanted = QRectF(frame.x, frame.y, frame.width, frame.height).toRect();
    // A frame placed beside another window (the locations window left of the
    // main one) or remembered from another screen must stay where it can be
    // seen and reached: a window beyond the screen's edge is lost to the user.
    const QScreen* on = QGuiApplication::screenAt(wanted.center());
    if (!on) on = screen();
    if (on) wanted = keptInArea(wanted, on->availableGeometry());
    setGeometry(wanted);
}

std::optional<WindowFrame> KitWindow::screenAreaAround(const WindowFrame& frame) const {
    const QRect around = QRectF(frame.x, frame.y, frame.width, frame.height).toRect();
    const QScreen* on = QGuiApplication::screenAt(around.center());
    if (!on) on = screen();
    if (!on) return std::nullopt;
    const QRect a = on->availableGeometry();
    return WindowFrame{double(a.x()), double(a.y()), double(a.width()), double(a.height())};
}

void KitWindow::closeEvent(QCloseEvent* event) {
    if (closeHandler_) {
        auto handler = closeHandler_;
        handler();
    }
    event->accept();
}

void KitWindow::keyPressEvent(QKeyEvent* event) {
    if (closesOnEscape_ && event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        // The same road as the title bar's close: the last window may not go.
        if (userMayClose(*this)) close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void KitWindow::releaseNativeWindow() {
    if (isHidden() && windowHandle()) destroy();
}

void KitWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (auto* ring = KeyboardFocusRing::instance()) ring->watch(*this);
    if (focusWidget()) return;
    // A window opens on its first field or list, as it did before its buttons
    // and links took the keyboard: those wait for Tab.
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (w->window() != this || !(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled() || !w->isVisibleTo(this))
            continue;
        if (qobject_cast<NSButtonWithHandCursor*>(w) || qobject_cast<HyperlinkTextField*>(w)) continue;
        w->setFocus(Qt::OtherFocusReason);
        return;
    }
}

bool KitWindow::focusNextPrevChild(bool next) {
    const std::vector<QWidget*> chain = keyboardChain(*this);
    if (chain.empty()) return QWidget::focusNextPrevChild(next);
    QWidget* focus = focusWidget();
    auto at = std::find(chain.begin(), chain.end(), focus);
    long index = at == chain.end() ? (next ? -1 : long(chain.size())) : long(at - chain.begin());
    index = (index + (next ? 1 : -1) + long(chain.size())) % long(chain.size());
    chain[std::size_t(index)]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

std::vector<QWidget*> keyboardChain(QWidget& window) {
    struct Stop {
        QWidget* widget;
        QRect rect;
    };
    std::vector<Stop> stops;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (w->window() != &window || !(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled() ||
            !w->isVisibleTo(&window) || w->focusProxy())
            continue;
        if (auto* radio = qobject_cast<QRadioButton*>(w); radio && !radio->isChecked()) {
            // Arrows move within the group; Tab stops at its checked button only.
            const auto siblings = radio->group() ? radio->group()->buttons() : QList<QAbstractButton*>();
            if (std::any_of(siblings.begin(), siblings.end(), [](QAbstractButton* b) { return b->isChecked(); }))
                continue;
        }
        stops.push_back({w, QRect(w->mapTo(&window, QPoint(0, 0)), w->size())});
    }
    // Rows first (controls whose tops lie within a few pixels share one), then left to right.
    std::stable_sort(stops.begin(), stops.end(), [](const Stop& a, const Stop& b) { return a.rect.top() < b.rect.top(); });
    constexpr int kRowSlack = 12;
    std::vector<QWidget*> chain;
    for (std::size_t row = 0; row < stops.size();) {
        std::size_t end = row + 1;
        while (end < stops.size() && stops[end].rect.top() - stops[row].rect.top() <= kRowSlack) ++end;
        std::stable_sort(stops.begin() + long(row), stops.begin() + long(end),
                         [](const Stop& a, const Stop& b) { return a.rect.left() < b.rect.left(); });
        for (std::size_t i = row; i < end; ++i) chain.push_back(stops[i].widget);
        row = end;
    }
    // Each marked control moves to just after the last of its siblings.
    std::vector<QWidget*> marked;
    for (QWidget* w : chain)
        if (w->property(kTabbedLast).toBool()) marked.push_back(w);
    for (QWidget* w : marked) {
        auto last = std::find_if(chain.rbegin(), chain.rend(), [&](QWidget* other) {
            return other != w && other->parentWidget() == w->parentWidget();
        });
        if (last == chain.rend()) continue;
        QWidget* after = *last;
        chain.erase(std::find(chain.begin(), chain.end(), w));
        chain.insert(std::find(chain.begin(), chain.end(), after) + 1, w);
    }
    return chain;
}

void setTabbedLastInItsGroup(QWidget& control) { control.setProperty(kTabbedLast, true); }

void KitWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (moveHandler_ && QWidget::isVisible()) moveHandler_(frame());
}

}  // namespace hw
