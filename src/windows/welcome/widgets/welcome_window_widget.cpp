#include "windows/welcome/widgets/welcome_window_widget.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "texts/locale_data.h"
#include "view/bf_page_control.h"
#include "view/kit_color.h"
#include "view/kit_controls.h"
#include "view/kit_fonts.h"
#include "view/kit_geometry.h"
#include "view/kit_images.h"
#include "view/page_container.h"
#include "view/plain_text_controls.h"

static void initOnboardingResources() {
    Q_INIT_RESOURCE(onboarding);
    Q_INIT_RESOURCE(onboarding_prerendered);
}

namespace hw {
namespace {

// The pages end a little above the dots; the buttons sit below them.
constexpr int kPagesBottomGap = 20;
constexpr int kButtonHeight = 40;
constexpr int kButtonMargin = 30;

QString qs(const std::string& s) { return QString::fromStdString(s); }

QString textOf(const std::string& key) { return qs(LocaleData::text(key).value_or("")); }

// The narrowest width that wraps the text into no more lines than the
// available one does, so its lines come out of even length and the last
// one never holds a word or two alone.
int balancedTextWidth(const QFontMetrics& metrics, const QString& text, int available) {
    auto height = [&](int width) {
        return metrics.boundingRect(QRect(0, 0, width, 10000), Qt::TextWordWrap, text).height();
    };
    const int lines = height(available);
    int low = 1, high = available;
    while (low < high) {
        const int mid = (low + high) / 2;
        if (height(mid) <= lines) high = mid;
        else low = mid + 1;
    }
    return high;
}

QPushButton* makeButton(QWidget* parent, const char* ground, const char* border) {
    auto* button = new NSButtonWithHandCursor(parent);
    button->setFont(latoFont(700, 13));
    button->setStyleSheet(QStringLiteral("QPushButton{color:#ffffff;background:%1;border:1px solid %2;"
                                         "border-radius:4px;}QPushButton:pressed{background:%3;}")
                              .arg(kitColor(ground).name(QColor::HexArgb), kitColor(border).name(QColor::HexArgb),
                                   kitColor("#FFFFFF33").name(QColor::HexArgb)));
    return button;
}

}  // namespace

QRectF welcomeDotsRect(const PageDotsFrame& yUp, double contentHeight) {
    return flipRectInParent(QRectF(yUp.x, yUp.y, yUp.width, yUp.height), contentHeight);
}

void WelcomeWindowWidget::registerResources() {
    static const bool registered = (initOnboardingResources(), true);
    (void)registered;
}

WelcomeWindowWidget::WelcomeWindowWidget() {
    registerResources();
    setFixedSize(kSize);
    const int w = kSize.width();
    const int h = kSize.height();

    pages_ = new PageContainer(this);
    pages_->setGeometry(0, 0, w, h - 110 - 7 - kPagesBottomGap);
    pages_->pageFactory = [this](std::size_t index) { return makePage(index); };
    pages_->onWillStartLiveTransition = [this] {
        if (actions_) actions_->pageControllerWillStartLiveTransition();
    };
    pages_->onDidEndLiveTransition = [this] {
        if (actions_) actions_->pageControllerDidEndLiveTransition();
        else pages_->completeTransition();
    };

    dots_ = new BFPageControl(this);
    dots_->delegate = this;
    dots_->hide();

    next_ = new NSButtonWithHandCursor(this);
    next_->setFlat(true);
    next_->setFont(latoFont(700, 12));
    next_->setText(qs(LocaleData::welcome_window_next_button()));
    next_->setStyleSheet(QStringLiteral("QPushButton{color:#ffffff;background:transparent;border:none;}"));
    next_->setGeometry(w / 2 - 60, h - 110 + 8, 120, 24);
    connect(next_, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->handleNextButtonClick();
    });

    logIn_ = makeButton(this, "#00000000", "#FFFFFFB3");
    signUp_ = makeButton(this, "#18ef8eFF", "#18ef8eFF");
    const int buttonWidth = (w - 2 * kButtonMargin - 12) / 2;
    logIn_->setGeometry(kButtonMargin, h - kButtonHeight - 28, buttonWidth, kButtonHeight);
    signUp_->setGeometry(w - kButtonMargin - buttonWidth, h - kButtonHeight - 28, buttonWidth, kButtonHeight);
    connect(logIn_, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onLogInButtonClick();
    });
    connect(signUp_, &QPushButton::clicked, this, [this] {
        if (actions_) actions_->onSignUpButtonClick();
    });
    // The arrows turn the pages as the dots do, wherever the focus is; Tab
    // goes through the buttons.
    for (const int key : {int(Qt::Key_Left), int(Qt::Key_Right)}) {
        auto* turn = new QShortcut(QKeySequence(key), this);
        turn->setContext(Qt::WindowShortcut);
        connect(turn, &QShortcut::activated, this, [this, key] {
            const long at = long(pages_->selectedIndex()) + (key == Qt::Key_Right ? 1 : -1);
            if (!actions_ || at < 0) return;
            actions_->pageControlDidSelectPageAtIndex(at);
            setCurrentDot(long(pages_->selectedIndex()));
        });
    }
}

WelcomeWindowWidget::~WelcomeWindowWidget() = default;

void WelcomeWindowWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient ground(0, 0, 0, height());
    ground.setColorAt(0, kitColor("#15A9EAFF"));
    ground.setColorAt(1, kitColor("#0b5f8aFF"));
    painter.fillRect(rect(), ground);
}

QWidget* WelcomeWindowWidget::makePage(std::size_t index) {
    const auto page = pageAt ? pageAt(index) : std::nullopt;
    if (!page) return nullptr;
    auto* view = new QWidget;
    view->setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(40, 56, 40, 0);
    layout->setSpacing(18);
    auto* image = new QLabel(view);
    image->setAlignment(Qt::AlignCenter);
    image->setPixmap(svgPixmap(qs(page->image), QSize(120, 120), devicePixelRatioF()));
    QLabel* title = makePlainLabel(view, latoFont(900, 20), "#FFFFFF", Qt::AlignCenter);
    title->setText(textOf(page->titleKey));
    QLabel* text = makePlainLabel(view, latoFont(400, 13), "#FFFFFF", Qt::AlignHCenter | Qt::AlignTop);
    text->setText(textOf(page->textKey));
    const int available = kSize.width() - 2 * 40;
    text->setFixedWidth(balancedTextWidth(QFontMetrics(text->font()), text->text(), available) + 2);
    layout->addWidget(image);
    layout->addWidget(title);
    layout->addWidget(text, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return view;
}

void WelcomeWindowWidget::setArrangedPages(std::size_t count) { pages_->setArrangedCount(count); }

std::size_t WelcomeWindowWidget::selectedIndex() const { return pages_->selectedIndex(); }

void WelcomeWindowWidget::setSelectedIndex(std::size_t index) { pages_->setSelectedIndex(index); }

void WelcomeWindowWidget::navigateForward() { pages_->navigateForward(); }

void WelcomeWindowWidget::completeTransition() { pages_->completeTransition(); }

void WelcomeWindowWidget::setPageHidden(std::size_t index, bool hidden) { pages_->setPageHidden(index, hidden); }

void WelcomeWindowWidget::setupPageDots(long pages, double diameter, double margin, const PageDotsFrame& frame) {
    dots_->setNumberOfPages(pages);
    dots_->setIndicatorDiameterSize(diameter);
    dots_->setIndicatorMargin(margin);
    const QColor on = kitColor("#FFFFFFFF");
    const QColor off = kitColor("#FFFFFF33");
    dots_->setDrawingBlock([on, off](QPainter& painter, const QRectF& dot, BFPageControl&, bool selected,
                                     bool highlighted) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(selected || highlighted ? on : off);
        painter.drawEllipse(dot);
    });
    const QRectF rect = welcomeDotsRect(frame, height());
    dots_->setGeometry(qRound(rect.x()), qRound(rect.y()), qRound(rect.width()), qRound(rect.height()));
    dots_->setVisible(pages > 0);
}

void WelcomeWindowWidget::pageControlDidSelectPageAtIndex(BFPageControl&, long index) {
    if (actions_) actions_->pageControlDidSelectPageAtIndex(index);
}

void WelcomeWindowWidget::setCurrentDot(long index) { dots_->setCurrentPage(index); }

void WelcomeWindowWidget::setButtonTitles(const std::string& logIn, const std::string& signUp) {
    logIn_->setText(qs(logIn));
    signUp_->setText(qs(signUp));
}

}  // namespace hw
