#include "windows/details_pane/widgets/main_view_details_view.h"

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTextLayout>
#include <algorithm>

#include "core/application_model.h"
#include "texts/locale_data.h"
#include "view/activity_indicator_with_image.h"
#include "view/kit_color.h"
#include "view/kit_fades.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"
#include "view/kit_popover.h"
#include "view/kit_window.h"
#include "view/top_bar/notification_bar_views.h"
#include "windows/details_pane/connect_button_model.h"
#include "windows/details_pane/widgets/connect_button.h"
#include "windows/details_pane/widgets/location_flag_image_view.h"
#include "windows/main/widgets/main_window_small_views.h"
#include "windows/shared/flag_placement.h"

namespace hw {

namespace {

QLabel* label(QWidget* parent, const QFont& font, const char* color, Qt::Alignment align = Qt::AlignLeft) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    l->setAlignment(align | Qt::AlignVCenter);
    l->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(QLatin1String(color)));
    return l;
}

QLabel* icon(QWidget* parent, const char* name, QSize size) {
    auto* l = new QLabel(parent);
    l->setPixmap(QPixmap::fromImage(kitImage(name, size, parent->devicePixelRatioF())));
    l->setFixedSize(size);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    return l;
}

QPushButton* closeButton(QWidget* parent) {
    auto* b = new QPushButton(parent);
    b->setFlat(true);
    b->setIcon(kitIcon("Pane_close"));
    b->setIconSize({12, 12});
    b->setFixedSize(24, 24);
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet("QPushButton { border: none; background: transparent; }");
    setTabbedLastInItsGroup(*b);
    return b;
}

QGraphicsOpacityEffect* opacityOf(QWidget& view) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view.graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(&view);
        effect->setOpacity(1.0);
        view.setGraphicsEffect(effect);
    }
    return effect;
}

// The dark map, or the light one under 60 % black when there is no dark one.
class DarkMapView final : public QWidget {
public:
    using QWidget::QWidget;
    void setMap(const QImage& dark, QSize light) {
        dark_ = dark;
        light_ = light;
        update();
    }

protected:
    void hideEvent(QHideEvent*) override {
        // Faded out: the pixels go until the next fade-in brings them back.
        // Not when only the window hides, which shows it again as it was.
        if (isHidden()) dark_ = QImage();
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QSize size = dark_.isNull() ? light_ : dark_.size();
        auto drawn = drawnMapRect(width(), height(), size.width(), size.height());
        if (dark_.isNull() || !drawn) {
            p.fillRect(rect(), QColor(0, 0, 0, 153));
            return;
        }
        p.fillRect(rect(), kitColor("#1b1c1e"));
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(drawn->startX, drawn->startY, drawn->width, drawn->height), dark_);
    }

private:
    QImage dark_;
    QSize light_;
};

// The card behind the location and the button, so they read over any map.
class CardView final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(24, 26, 29, 215));
        p.drawRoundedRect(QRectF(rect()), 12, 12);
    }
};

class TranslucentView final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(0, 0, 0, 128)); }
};

}  // namespace

// The server bar's title: plain text with its bold run as a layout format,
// never parsed as markup.
class ServerBarLinkButton final : public QAbstractButton {
public:
    explicit ServerBarLinkButton(QWidget* parent) : QAbstractButton(parent) { setCursor(Qt::PointingHandCursor); }
    void setLook(const QString& text, const QColor& color, std::optional<std::pair<std::size_t, std::size_t>> bold) {
        setText(text);
        color_ = color;
        bold_ = bold;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QFont base = latoFont(400, 12);
        base.setUnderline(true);
        QTextLayout layout(text(), base);
        QList<QTextLayout::FormatRange> formats;
        if (bold_) {
            QTextLayout::FormatRange range;
            range.start = int(bold_->first);
            range.length = int(bold_->second);
            range.format.setFont(latoFont(700, 12));
            range.format.setFontUnderline(false);
            formats.append(range);
        }
        layout.setFormats(formats);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(width());
        layout.endLayout();
        p.setPen(color_);
        const double x = std::max(0.0, (width() - line.naturalTextWidth()) / 2);
        layout.draw(&p, QPointF(x, (height() - line.height()) / 2));
    }

private:
    QColor color_;
    std::optional<std::pair<std::size_t, std::size_t>> bold_;
};

// The bottom bar's line: dark brown bold on the light bar, its linked words
// underlined; plain text throughout.
class FooterLinkButton final : public QAbstractButton {
public:
    explicit FooterLinkButton(QWidget* parent) : QAbstractButton(parent) { setCursor(Qt::PointingHandCursor); }
    void setLook(const QString& text, std::optional<std::pair<std::size_t, std::size_t>> link) {
        setText(text);
        link_ = link;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QFont font = latoFont(700, 12);
        font.setUnderline(!link_);
        QTextLayout layout(text(), font);
        if (link_) {
            QTextLayout::FormatRange range;
            range.start = int(link_->first);
            range.length = int(link_->second);
            range.format.setFontUnderline(true);
            layout.setFormats({range});
        }
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(width());
        layout.endLayout();
        p.setPen(kitColor("#412618"));
        const double x = std::max(0.0, (width() - line.naturalTextWidth()) / 2);
        layout.draw(&p, QPointF(x, (height() - line.height()) / 2));
    }

private:
    std::optional<std::pair<std::size_t, std::size_t>> link_;
};

MainViewDetailsView::MainViewDetailsView(RemoteImageLoader& images, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    darkMap_ = new DarkMapView(this);
    darkMap_->setAttribute(Qt::WA_TransparentForMouseEvents);
    darkMap_->hide();
    strip_ = new QWidget(this);
    strip_->setAttribute(Qt::WA_TransparentForMouseEvents);

    // The card: "Connect to", the location, the details and the button.
    card_ = new CardView(this);
    connectTo_ = label(card_, latoFont(400, 12), "#9ea3a8");
    changeProtocol_ = new QPushButton(card_);
    changeProtocol_->setFlat(true);
    changeProtocol_->setCursor(Qt::PointingHandCursor);
    changeProtocol_->setFont(latoFont(400, 12));
    changeProtocol_->setStyleSheet("QPushButton { color: white; border: none; background: transparent; }");
    flagRing_ = new FlagActivityIndicator(card_);
    flagRing_->hide();
    flag_ = new LocationFlagImageView(images, card_);
    connectedMark_ = icon(card_, "Flag_connected_indicator", {14, 14});
    name_ = label(card_, latoFont(600, 20), "#ffffff");
    changeLocationTop_ = new ChangeLocationButton(card_);
    changeLocationTop_->setFlat(true);
    changeLocationTop_->setStyleSheet("QPushButton { border: none; background: transparent; }");
    detailsBox_ = new QWidget(card_);
    auto column = [this](const std::string& caption) {
        label(detailsBox_, latoFont(400, 10), "#9ea3a8", Qt::AlignHCenter)->setText(QString::fromStdString(caption));
        return label(detailsBox_, latoFont(700, 13), "#ffffff", Qt::AlignHCenter);
    };
    protocolValue_ = column(LocaleData::main_view_protocol_caption());
    addressValue_ = column(LocaleData::main_view_public_ip_caption());
    timeValue_ = column(LocaleData::main_view_connection_time_caption());
    button_ = new ConnectButton(card_);
    // Both marks sit in the button's hover band, so the pointer on them keeps
    // the hover hint; the arrow takes its own clicks.
    xSign_ = icon(button_, "Connecting_x_sign", {kMarkSize, kMarkSize});
    changeInside_ = new ChangeLocationButton(button_);
    changeInside_->setFlat(true);
    // Its unhandled moves pass on to the button, whose hover machine needs them.
    changeInside_->setMouseTracking(true);
    changeInside_->setIcon(kitIcon("Change_location_arrow"));
    changeInside_->setIconSize({kMarkSize, kMarkSize});
    changeInside_->setFixedSize(kMarkSize, kMarkSize);
    changeInside_->setStyleSheet("QPushButton { border: none; background: transparent; padding: 0; }");
    // The server's line at the foot, above the information tile; closed, a
    // gift button stays to bring it back.
    bottomBar_ = new MainViewBottomBar(this);
    new LoadingViewBottomBarView(bottomBar_);
    inviteButton_ = new NSButtonWithHandCursor(bottomBar_);
    inviteButton_->setFlat(true);
    inviteButton_->setStyleSheet("QPushButton { border: none; background: transparent; }");
    footerIcon_ = new FooterIconView(images, inviteButton_);
    footerIcon_->setAttribute(Qt::WA_TransparentForMouseEvents);
    footerLink_ = new FooterLinkButton(bottomBar_);
    bottomClose_ = closeButton(bottomBar_);
    bottomSpinner_ = new FlagActivityIndicator(bottomBar_);
    bottomSpinner_->hide();
    bottomBar_->hide();
    gift_ = new NSButtonWithHandCursor(this);
    gift_->setFlat(true);
    gift_->setIcon(kitIcon("Footer_gift"));
    gift_->setIconSize({20, 20});
    gift_->setFixedSize(kGiftSize, kGiftSize);
    gift_->setStyleSheet("QPushButton { border: none; background: transparent; }");
    gift_->hide();

    // Overlays: the reconnect message (the card stays above it) and the update sheet's shade.
    reconnectOverlay_ = new AutoReconnectOverlayView(this);
    reconnectHeader_ = label(reconnectOverlay_, latoFont(700, 18), "#ffffff", Qt::AlignHCenter);
    reconnectHeader_->setWordWrap(true);
    reconnectSubheader_ = label(reconnectOverlay_, latoFont(400, 12), "#b9bdc2", Qt::AlignHCenter);
    reconnectSubheader_->setWordWrap(true);
    reconnectSpinner_ = new ActivityIndicatorWithImage(reconnectOverlay_);
    reconnectSpinner_->setImageName("Activity_spinner");
    reconnectOverlay_->hide();
    updateOverlay_ = new TranslucentView(this);
    updateOverlay_->hide();

    // The bars, above everything else.
    serverBar_ = new MainViewTopNotificationArea(this);
    serverIcon_ = new QLabel(serverBar_);
    serverIcon_->setFixedSize(20, 20);
    serverLink_ = new ServerBarLinkButton(serverBar_);
    serverSpinner_ = new FlagActivityIndicator(serverBar_);
    reconnectBar_ = new MainViewTopNotificationArea(this);
    updateBar_ = new UpgradeAvailableNotificationsBar(this);
    updateText_ = label(updateBar_, latoFont(400, 12), "#24432b");
    updateClose_ = closeButton(updateBar_);
    errorBar_ = new ErrorNotificationsBar(this);
    errorUpper_ = label(errorBar_, latoFont(700, 13), "#4d0f0f");
    errorLower_ = label(errorBar_, latoFont(400, 12), "#4d0f0f");
    errorMulti_ = label(errorBar_, latoFont(400, 11), "#4d0f0f");
    errorMulti_->setWordWrap(true);
    errorMulti_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    errorClose_ = closeButton(errorBar_);
    errorBar_->linkButton()->setFont(latoFont(400, 12));
    dynamic_cast<LinkedNotificationBar*>(errorBar_)->updateLinkButtonLabel(
        LocaleData::main_view_top_bar_notifications_pick_different_location_button());
    // The texts span their bars; the links that complete them must stay on top to be clicked.
    errorBar_->linkButton()->raise();
    updateBar_->linkButton()->raise();
    updateBar_->linkButton()->setFont(latoFont(700, 12));
    dynamic_cast<LinkedNotificationBar*>(updateBar_)
        ->updateLinkButtonLabel(LocaleData::main_view_top_bar_notifications_install_update_here_button());
    for (QWidget* bar : {static_cast<QWidget*>(serverBar_), static_cast<QWidget*>(reconnectBar_),
                         static_cast<QWidget*>(updateBar_), static_cast<QWidget*>(errorBar_)})
        bar->hide();

    popover_ = new KitPopover(KitPopover::Kind::Tooltip, this);
    popover_->setAttribute(Qt::WA_ShowWithoutActivating);
    popover_->setAttribute(Qt::WA_TransparentForMouseEvents);
    popover_->setColors(kitColor("#ffffff"), kitColor("#d0d2d6"));
    popoverText_ = label(popover_, latoFont(400, 12), "#2b2d30");
    popover_->setContent(popoverText_, 8);

    using Events = MainViewDetailsAreaEvents;
    auto forward = [this](QAbstractButton* b, std::function<void(Events&)> handler) {
        connect(b, &QAbstractButton::clicked, this, [this, handler = std::move(handler)] {
            if (events_) handler(*events_);
        });
    };
    forward(button_, [](Events& e) { e.onConnectButtonClick(); });
    forward(changeLocationTop_, [](Events& e) { e.onChangeLinkFieldClick(); });
    forward(changeInside_, [](Events& e) { e.onChangeLinkFieldClick(); });
    forward(changeProtocol_, [](Events& e) { e.onChangeProtocolLinkClick(); });
    forward(errorBar_->linkButton(), [](Events& e) { e.onPickDifferentLocation_linkButtonClick(); });
    forward(errorClose_, [](Events& e) { e.onErrorTopNotificationBar_CloseButton_click(); });
    forward(updateBar_->linkButton(), [](Events& e) { e.onUpdateInstall_linkButtonClick(); });
    forward(updateClose_, [](Events& e) { e.onUpdateTopNotificationBar_CloseButton_click(); });
    forward(serverLink_, [](Events& e) { e.onTopBarLinkedButtonClick(); });
    forward(footerLink_, [](Events& e) { e.onFooterLinkClick(); });
    forward(inviteButton_, [](Events& e) { e.onInviteFriendsBottomBarButtonClick(); });
    forward(bottomClose_, [](Events& e) { e.onBottomBarCloseClick(); });
    forward(gift_, [](Events& e) { e.giftBottonToOpenBottonBarClickHandler(); });
    layoutContent();
}

MainViewDetailsView::~MainViewDetailsView() = default;

void MainViewDetailsView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutContent();
}

void MainViewDetailsView::layoutContent() {
    const int w = width(), h = height();
    darkMap_->setGeometry(rect());
    strip_->setGeometry(0, 0, w, kBarHeight);
    for (auto bar : {PaneTopBar::server, PaneTopBar::autoReconnect, PaneTopBar::update})
        barOf(bar)->resize(w, kBarHeight);
    errorBar_->resize(w, kErrorBarHeight);
    for (auto bar : {PaneTopBar::error, PaneTopBar::update, PaneTopBar::server, PaneTopBar::autoReconnect}) {
        if (!slides_[bar]) barOf(bar)->move(0, 0);
    }
    layoutErrorBar();
    updateClose_->move(w - 32, (kBarHeight - 24) / 2);
    updateText_->setGeometry(16, 0, w - 56, kBarHeight);
    const int iconSpace = serverIcon_->isHidden() ? 0 : 28;
    serverIcon_->move(int(serverLeft_) + 14, (kBarHeight - 20) / 2);
    serverLink_->setGeometry(int(serverLeft_) + 14 + iconSpace, 0, w - 2 * 14 - iconSpace - int(serverLeft_) - 24,
                             kBarHeight);
    serverSpinner_->setGeometry(w - 34, (kBarHeight - 20) / 2, 20, 20);

    // The foot's line sits on the information tile; the card makes room for it.
    const int footY = h - kCardBottomGap - kBottomBarHeight;
    bottomBar_->setGeometry(12, footY, w - 24, kBottomBarHeight);
    for (auto* fill : bottomBar_->findChildren<LoadingViewBottomBarView*>()) fill->setGeometry(bottomBar_->rect());
    inviteButton_->setGeometry(8, (kBottomBarHeight - 20) / 2, 20, 20);
    footerIcon_->setGeometry(inviteButton_->rect());
    bottomClose_->move(bottomBar_->width() - 28, (kBottomBarHeight - 24) / 2);
    bottomSpinner_->setGeometry(bottomBar_->width() - 52, (kBottomBarHeight - 16) / 2, 16, 16);
    footerLink_->setGeometry(34, 0, bottomBar_->width() - 34 - 56, kBottomBarHeight);
    gift_->move(w - 12 - kGiftSize, h - kCardBottomGap - kGiftSize);
    const int lift = bottomBar_->isHidden() ? 0 : kBottomBarHeight + 6;
    card_->setGeometry((w - kCardWidth) / 2, h - kCardBottomGap - kCardHeight - lift, kCardWidth, kCardHeight);
    const int cw = kCardWidth;
    changeProtocol_->setGeometry(cw - 140, 10, 124, 18);
    layoutConnectToLabel();
    flagRing_->setGeometry(16, 34, 32, 32);
    flag_->setGeometry(20, 38, 24, 24);
    connectedMark_->move(36, 52);
    name_->setGeometry(54, 34, cw - 74, 32);
    changeLocationTop_->setGeometry(16, 32, cw - 32, 36);
    detailsBox_->setGeometry(16, 72, cw - 32, 36);
    const auto labels = detailsBox_->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    const int col = (cw - 32) / 3;
    for (int i = 0; i < labels.size(); ++i) labels[i]->setGeometry((i / 2) * col, (i % 2) * 16, col, i % 2 ? 20 : 14);
    button_->move((cw - button_->width()) / 2, kCardHeight - 55 - 12);
    // The cancel mark takes the change-location arrow's place while connecting.
    const int markX = button_->width() + int(xSignPaddingLeft_);
    xSign_->move(markX, (button_->height() - kMarkSize) / 2);
    changeInside_->move(markX, (button_->height() - kMarkSize) / 2);

    layoutReconnectOverlay();
    updateOverlay_->setGeometry(rect());
}

// The card stays above the message: where the pane is short or the text long,
// the message moves up rather than under the card.
void MainViewDetailsView::layoutReconnectOverlay() {
    const int w = width();
    reconnectOverlay_->setGeometry(rect());
    const int headerHeight = std::max(52, reconnectHeader_->heightForWidth(w - 48));
    const int subheaderHeight = std::max(36, reconnectSubheader_->heightForWidth(w - 80));
    const int block = 40 + headerHeight + 2 + subheaderHeight;
    const int top = std::max(kBarHeight, std::min(70, card_->y() - 4 - block));
    reconnectSpinner_->setGeometry((w - 32) / 2, top, 32, 32);
    reconnectHeader_->setGeometry(24, top + 40, w - 48, headerHeight);
    reconnectSubheader_->setGeometry(40, top + 42 + headerHeight, w - 80, subheaderHeight);
}

void MainViewDetailsView::layoutErrorBar() {
    const int w = errorBar_->width();
    errorClose_->move(w - 32, 6);
    const int top = errorContent_.upperTextTopConstraint < 0 ? 4 : 9;
    errorUpper_->setGeometry(16, top, w - 56, 18);
    errorLower_->setGeometry(16, top + 20, w - 56, 18);
    errorMulti_->setGeometry(16, top + 19, w - 56, kErrorBarHeight - top - 21);
    // The link completes the lower line, which ends in "pick a ".
    const int textWidth = errorLower_->fontMetrics().horizontalAdvance(errorLower_->text());
    auto* link = errorBar_->linkButton();
    link->adjustSize();
    link->setGeometry(16 + textWidth, top + 20, link->sizeHint().width(), 18);
}

QWidget* MainViewDetailsView::barOf(PaneTopBar bar) const {
    switch (bar) {
        case PaneTopBar::error: return errorBar_;
        case PaneTopBar::update: return updateBar_;
        case PaneTopBar::server: return serverBar_;
        case PaneTopBar::autoReconnect: return reconnectBar_;
    }
    return errorBar_;
}

QWidget* MainViewDetailsView::topBarView(PaneTopBar bar) const { return barOf(bar); }
QAbstractButton* MainViewDetailsView::changeLocationInsideOfConnectButton() const { return changeInside_; }
QAbstractButton* MainViewDetailsView::changeProtocolLink() const { return changeProtocol_; }
QAbstractButton* MainViewDetailsView::footerLink() const { return footerLink_; }
QWidget* MainViewDetailsView::bottomBar() const { return bottomBar_; }
QAbstractButton* MainViewDetailsView::bottomBarCloseButton() const { return bottomClose_; }
QAbstractButton* MainViewDetailsView::giftButton() const { return gift_; }
QAbstractButton* MainViewDetailsView::inviteButton() const { return inviteButton_; }
QPushButton* MainViewDetailsView::pickDifferentLocationLink() const { return errorBar_->linkButton(); }
QWidget* MainViewDetailsView::autoReconnectOverlay() const { return reconnectOverlay_; }

std::function<void(MainViewDetailsView::MapImagesAnswer)> MainViewDetailsView::mapImagesOf(const ApplicationModel& model) {
    return [&model](MapImagesAnswer answer) {
        model.decodeMainViewMapDarkImage([&model, answer = std::move(answer)](ImagePtr image) {
            QImage dark;
            if (image && image->isValid()) {
                // Wraps the pixels just decoded rather than copying them.
                auto* keep = new ImagePtr(image);
                dark = QImage(image->rgba.data(), image->width, image->height, image->width * 4, QImage::Format_RGBA8888,
                              [](void* p) { delete static_cast<ImagePtr*>(p); }, keep);
            }
            const auto& light = model.mainViewMapImage;
            answer(dark, light ? QSize(light->width, light->height) : QSize());
        });
    };
}

void MainViewDetailsView::setDarkMapImage(const QImage& dark, QSize lightMapSize) {
    static_cast<DarkMapView*>(darkMap_)->setMap(dark, lightMapSize);
}

void MainViewDetailsView::bindConnectButton(ConnectButtonModel& model) {
    buttonModel_ = &model;
    button_->bind(&model);
}

void MainViewDetailsView::refreshConnectButton() { button_->update(); }

void MainViewDetailsView::setConnectToText(const std::string& text) {
    connectTo_->setText(QString::fromStdString(text));
    layoutConnectToLabel();
}

// The label runs up to the protocol link's words (centred in their button);
// a longer text (the wait for the network's) takes a smaller size rather than
// losing its end.
void MainViewDetailsView::layoutConnectToLabel() {
    const QRect link = changeProtocol_->geometry();
    const int linkWords = changeProtocol_->fontMetrics().horizontalAdvance(changeProtocol_->text());
    const int room = link.x() + (link.width() - linkWords) / 2 - 8 - 20;
    double size = 12;
    QFont font = latoFont(400, size);
    while (size > 9 && QFontMetrics(font).horizontalAdvance(connectTo_->text()) > room) font = latoFont(400, size -= 0.5);
    connectTo_->setFont(font);
    connectTo_->setGeometry(20, 10, room, 18);
}

void MainViewDetailsView::setLocationName(const std::string& text) {
    name_->setText(name_->fontMetrics().elidedText(QString::fromStdString(text), Qt::ElideRight, name_->width()));
    name_->setToolTip(QString::fromStdString(text));
}

void MainViewDetailsView::setFlagImage(const ParseFilePtr& file) { flag_->setFlagImage(file); }
void MainViewDetailsView::setProtocolText(const std::string& text) {
    protocolValue_->setText(QString::fromStdString(text).trimmed());
}
void MainViewDetailsView::setPublicIPAddressText(const std::string& text) {
    addressValue_->setText(QString::fromStdString(text));
}
void MainViewDetailsView::setConnectionTimeText(const std::string& text) {
    timeValue_->setText(QString::fromStdString(text));
}
void MainViewDetailsView::setConnectionDetailsBoxHidden(bool hidden) { detailsBox_->setHidden(hidden); }
void MainViewDetailsView::setChangeProtocolLinkText(const std::string& text) {
    changeProtocol_->setText(QString::fromStdString(text));
    layoutConnectToLabel();
}

void MainViewDetailsView::setChangeLocationEnabled(bool enabled, double alpha) {
    changeLocationTop_->setEnabled(enabled);
    changeLocationTop_->setCursor(enabled ? Qt::PointingHandCursor : Qt::ArrowCursor);
    opacityOf(*changeProtocol_)->setOpacity(alpha);
}

void MainViewDetailsView::setConnectingXSignHidden(bool hidden) { xSign_->setHidden(hidden); }
void MainViewDetailsView::setConnectButtonXSignPaddingLeft(double padding) {
    if (padding == xSignPaddingLeft_) return;
    xSignPaddingLeft_ = padding;
    layoutContent();
}

void MainViewDetailsView::setChangeLocationInsideButton(bool hidden, double alpha) {
    changeInside_->setHidden(hidden);
    opacityOf(*changeInside_)->setOpacity(alpha);
}

void MainViewDetailsView::showConnectButtonPopover(const std::string& text) {
    popoverText_->setText(QString::fromStdString(text));
    popover_->adjustSize();
    const QRect anchor(changeInside_->mapTo(this, QPoint(0, 0)), changeInside_->size());
    popover_->showRelativeTo(*this, anchor, KitPopover::Edge::Above);
}

void MainViewDetailsView::closeConnectButtonPopover() { popover_->hide(); }

void MainViewDetailsView::setFlagLoadingSpinning(bool spinning) {
    flagRing_->setVisible(spinning);
    if (spinning) {
        flagRing_->startRotationAnimation();
    } else {
        flagRing_->stopRotationAnimation();
    }
}

void MainViewDetailsView::setFlagConnectedIndicatorHidden(bool hidden) { connectedMark_->setHidden(hidden); }

bool MainViewDetailsView::isAutoReconnectOverlayHidden() const { return reconnectOverlay_->isHidden(); }

void MainViewDetailsView::setAutoReconnectOverlay(bool hidden, const std::string& header, const std::string& subheader) {
    reconnectHeader_->setText(QString::fromStdString(header));
    reconnectSubheader_->setText(QString::fromStdString(subheader));
    layoutReconnectOverlay();
    reconnectOverlay_->setHidden(hidden);
    coverMainWindowFlag(!hidden || !updateOverlay_->isHidden());
    if (!hidden) {
        reconnectOverlay_->raise();
        card_->raise();  // the button stays usable above the overlay
        for (auto bar : {PaneTopBar::server, PaneTopBar::autoReconnect, PaneTopBar::update, PaneTopBar::error})
            barOf(bar)->raise();
        keepTabOnTopmostBar();
    }
}

void MainViewDetailsView::setAutoReconnectSpinning(bool spinning) {
    reconnectSpinner_->setVisible(spinning);
    if (spinning) {
        reconnectSpinner_->startRotationAnimation();
    } else {
        reconnectSpinner_->stopRotationAnimation();
    }
}

void MainViewDetailsView::setErrorBar(const ErrorBarContent& content) {
    errorContent_ = content;
    errorUpper_->setText(QString::fromStdString(content.upperText));
    errorLower_->setText(QString::fromStdString(content.lowerText));
    errorLower_->setHidden(content.multiLine);
    errorMulti_->setText(QString::fromStdString(content.multiLineText));
    errorMulti_->setHidden(!content.multiLine);
    errorBar_->linkButton()->setHidden(!content.pickDifferentLocationLinkVisible);
    layoutErrorBar();
}

void MainViewDetailsView::setUpdateBarText(const std::string& text, const std::string& linkText) {
    updateText_->setText(QString::fromStdString(text));
    updateBar_->updateLinkButtonLabel(linkText);
    // The link follows the sentence it completes.
    const int textWidth = updateText_->fontMetrics().horizontalAdvance(updateText_->text());
    updateBar_->linkButton()->adjustSize();
    updateText_->adjustSize();
    updateText_->setGeometry(16, 0, textWidth + 2, kBarHeight);
    updateBar_->linkButton()->move(16 + textWidth + 2, (kBarHeight - updateBar_->linkButton()->height()) / 2);
}

void MainViewDetailsView::setTopBarStripHidden(bool hidden) { strip_->setHidden(hidden); }

void MainViewDetailsView::slideTopBar(PaneTopBar bar, bool in, std::function<void()> done) {
    QWidget* view = barOf(bar);
    if (auto running = slides_[bar]) running->stop();  // a new slide replaces the running one
    view->raise();
    auto* effect = opacityOf(*view);
    if (in) {
        view->move(0, kSlideInFrom);
        effect->setOpacity(0.0);
        view->show();
    }
    keepTabOnTopmostBar();
    auto* group = new QParallelAnimationGroup(view);
    auto* move = new QPropertyAnimation(view, "pos", group);
    move->setDuration(kSlideMs);
    move->setEasingCurve(QEasingCurve::InOutQuad);
    move->setEndValue(QPoint(0, in ? 0 : kSlideOutTo));
    auto* fade = new QPropertyAnimation(effect, "opacity", group);
    fade->setDuration(kSlideMs);
    fade->setEndValue(in ? 1.0 : 0.0);
    group->addAnimation(move);
    group->addAnimation(fade);
    connect(group, &QAbstractAnimation::finished, this, [done = std::move(done)] {
        if (done) done();
    });
    slides_[bar] = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void MainViewDetailsView::setTopBarHidden(PaneTopBar bar, bool hidden) {
    barOf(bar)->setHidden(hidden);
    keepTabOnTopmostBar();
}

// The bars share one place: a bar under another keeps its controls, which Tab
// would reach and ring where nothing of them shows.
void MainViewDetailsView::keepTabOnTopmostBar() {
    constexpr PaneTopBar kBars[] = {PaneTopBar::server, PaneTopBar::autoReconnect, PaneTopBar::update,
                                    PaneTopBar::error};
    QWidget* top = nullptr;
    for (QObject* child : children()) {  // lowest first
        for (auto bar : kBars)
            if (child == barOf(bar) && !barOf(bar)->isHidden()) top = barOf(bar);
    }
    for (auto bar : kBars) {
        for (auto* control : barOf(bar)->findChildren<QAbstractButton*>()) {
            QVariant own = control->property("hw_barFocusPolicy");
            if (!own.isValid()) {
                own = int(control->focusPolicy());
                control->setProperty("hw_barFocusPolicy", own);
            }
            control->setFocusPolicy(!top || barOf(bar) == top ? Qt::FocusPolicy(own.toInt()) : Qt::NoFocus);
        }
    }
}
bool MainViewDetailsView::isTopBarHidden(PaneTopBar bar) const { return barOf(bar)->isHidden(); }

void MainViewDetailsView::setServerBarLook(const ServerBarLook& look) {
    serverBar_->applyBackgroundStyles(toQColor(look.background), toQColor(look.border));
    serverLeft_ = look.leftConstraint;
    serverIcon_->setHidden(look.icon.empty());
    if (!look.icon.empty())
        serverIcon_->setPixmap(QPixmap::fromImage(kitImage(look.icon, {20, 20}, devicePixelRatioF())));
    serverLink_->setLook(QString::fromStdString(look.linkText), toQColor(look.textColor), look.boldRange);
    layoutContent();
}

void MainViewDetailsView::setBarActivityIndicatorsSpinning(bool spinning) {
    for (auto* spinner : {serverSpinner_, bottomSpinner_}) {
        spinner->setVisible(spinning);
        if (spinning) {
            spinner->startRotationAnimation();
        } else {
            spinner->stopRotationAnimation();
        }
    }
}

void MainViewDetailsView::setBottomBar(const std::optional<BottomBarLook>& look) {
    hasBottomBar_ = look.has_value();
    if (look) {
        footerLink_->setLook(QString::fromStdString(look->text), look->linkRange);
        footerIcon_->setFooterIcon(look->icon);
        inviteButton_->setVisible(look->icon != nullptr);
    }
    setBottomBarCollapsed(bottomBarCollapsed_);
}

void MainViewDetailsView::setBottomBarCollapsed(bool collapsed) {
    bottomBarCollapsed_ = collapsed;
    bottomBar_->setVisible(hasBottomBar_ && !collapsed);
    gift_->setVisible(hasBottomBar_ && collapsed);
    layoutContent();
}

void MainViewDetailsView::crossFadeMaps(bool dark, double seconds) {
    // A fade-out keeps the map it shows; a map decoded for a fade-in that a
    // later fade overtook is dropped.
    const auto fade = ++mapFades_;
    if (mapImages && dark) {
        mapImages([self = QPointer<MainViewDetailsView>(this), fade](QImage image, QSize light) {
            if (self && self->mapFades_ == fade) self->setDarkMapImage(image, light);
        });
    }
    if (dark) {
        fadeInWithDuration(*darkMap_, seconds);
    } else if (darkMap_->isVisible()) {
        fadeOutWithDuration(*darkMap_, seconds);
    }
}

void MainViewDetailsView::fadeAutoUpdateOverlay(bool in, double seconds, std::function<void()> done) {
    if (in) {
        updateOverlay_->raise();
        coverMainWindowFlag(true);
        fadeInWithDuration(*updateOverlay_, seconds, std::move(done));
    } else {
        fadeOutWithDuration(*updateOverlay_, seconds, std::move(done));
    }
}

void MainViewDetailsView::setAutoUpdateOverlayHidden(bool hidden) {
    updateOverlay_->setHidden(hidden);
    coverMainWindowFlag(!hidden || !reconnectOverlay_->isHidden());
}

void MainViewDetailsView::coverMainWindowFlag(bool cover) {
    // The window's flag sits over the pane's place: an overlay must cover
    // it, and without one the flag must take its clicks again.
    QWidget* place = parentWidget();
    if (!place) return;
    if (cover) {
        place->raise();
    } else {
        place->lower();
    }
}

void MainViewDetailsView::refreshHandCursors() {
    for (auto* b : findChildren<QAbstractButton*>()) {
        if (b->isEnabled()) b->setCursor(Qt::PointingHandCursor);
    }
}

}  // namespace hw
