#include "windows/main/widgets/main_window_widget.h"

#include <QAbstractButton>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QMenu>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>

#include "texts/locale_data.h"
#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"
#include "windows/main/widgets/main_window_small_views.h"
#include "windows/main/widgets/profile_menu_popover.h"
#include "windows/main/widgets/smart_widget_view.h"
#include "windows/shared/widgets/locations_search_field_main.h"
#include "windows/shared/widgets/locations_table_qt_model.h"
#include "windows/shared/widgets/locations_table_widget.h"

// Static libraries keep their resources only when asked for by name.
static void initMainWindowImages() { Q_INIT_RESOURCE(main_window); }

namespace hw {

namespace {

constexpr int kPad = 12;  // the map's padding
constexpr int kTileHeight = 86;
constexpr int kButton = 32;

QImage toQImage(const ImagePtr& image) {
    if (!image || !image->isValid()) return {};
    auto* keep = new ImagePtr(image);
    return QImage(image->rgba.data(), image->width, image->height, image->width * 4, QImage::Format_RGBA8888,
                  [](void* p) { delete static_cast<ImagePtr*>(p); }, keep);
}

// The top bar's round icon buttons, drawn rather than loaded.
class TopBarButton : public QAbstractButton {
public:
    enum class Shape { locations, settings, profile };
    TopBarButton(Shape shape, QWidget* parent) : QAbstractButton(parent), shape_(shape) {
        setCursor(Qt::PointingHandCursor);
        setFixedSize(kButton, kButton);
        setAttribute(Qt::WA_Hover);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (underMouse()) {
            p.setPen(Qt::NoPen);
            p.setBrush(kitColor("#373a3d"));
            p.drawEllipse(rect());
        }
        const QColor ink = kitColor(isDown() ? "#FFFFFF" : "#d5d6d8");
        p.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        const QPointF c = QRectF(rect()).center();
        switch (shape_) {
            case Shape::locations:
                for (int i = -1; i <= 1; ++i) {
                    p.drawPoint(QPointF(c.x() - 6, c.y() + i * 5));
                    p.drawLine(QPointF(c.x() - 2, c.y() + i * 5), QPointF(c.x() + 8, c.y() + i * 5));
                }
                break;
            case Shape::settings:
                p.drawEllipse(c, 3.5, 3.5);
                for (int i = 0; i < 8; ++i) {
                    p.save();
                    p.translate(c);
                    p.rotate(i * 45);
                    p.drawLine(QPointF(0, -6.5), QPointF(0, -9));
                    p.restore();
                }
                p.drawEllipse(c, 6.5, 6.5);
                break;
            case Shape::profile:
                p.drawEllipse(QPointF(c.x(), c.y() - 3.5), 3.8, 3.8);
                p.drawArc(QRectF(c.x() - 8, c.y() + 2, 16, 14), 0, 180 * 16);
                break;
        }
    }

private:
    Shape shape_;
};

}  // namespace

// The world map drawn to fit, aspect kept, with the flag and its ring on top.
class MainViewMapView : public QWidget {
public:
    explicit MainViewMapView(QWidget* parent) : QWidget(parent) {}
    std::function<void()> onResized;
    void setMap(const QImage& map) {
        map_ = map;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), kitColor("#25272a"));
        if (map_.isNull()) return;
        auto drawn = drawnMapRect(width(), height(), map_.width(), map_.height());
        if (!drawn) return;
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(drawn->startX, drawn->startY, drawn->width, drawn->height), map_);
    }
    void resizeEvent(QResizeEvent*) override {
        if (onResized) onResized();
    }

private:
    QImage map_;
};

MainWindowWidget::MainWindowWidget(RemoteImageLoader& images, QWidget* parent)
    : KitWindow(parent),
      images_(images),
      topBar_(new MainViewTopBar(this)),
      titleLabel_(new ElidedLabel(topBar_)),
      locationsButton_(new TopBarButton(TopBarButton::Shape::locations, topBar_)),
      settingsButton_(new TopBarButton(TopBarButton::Shape::settings, topBar_)),
      profileButton_(new TopBarButton(TopBarButton::Shape::profile, topBar_)),
      locationsColumn_(new LocationsMainViewContainer(this)),
      searchField_(new LocationsSearchFieldMain(locationsColumn_)),
      table_(new LocationsTableWidget(locationsColumn_)),
      map_(new MainViewMapView(this)),
      detailsContainer_(new QWidget(map_)),
      flag_(new MainViewFlagImage(map_)),
      ring_(new FlagLoadingRing(map_)),
      smartWidget_(new SmartWidgetView(map_)),
      overlay_(new NoInternetConnectionOverlayView(this)),
      popover_(new ProfileMenuPopover(this)),
      popUpMenu_(new QMenu(this)) {
    static const bool imagesReady = (initMainWindowImages(), true);
    (void)imagesReady;
    setFixedSize(kWidth, kHeight);
    // Escape closes the other windows; this one only from its title bar.
    setClosesOnEscape(false);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kitColor("#1f2022"));
    setPalette(pal);
    topBar_->setAutoFillBackground(true);
    QPalette barPalette = topBar_->palette();
    barPalette.setColor(QPalette::Window, kitColor("#151617"));
    topBar_->setPalette(barPalette);
    titleLabel_->setFont(kitFont("Lato-Bold", 16));
    QPalette titlePalette = titleLabel_->palette();
    titlePalette.setColor(QPalette::WindowText, kitColor("#FFFFFF"));
    titleLabel_->setPalette(titlePalette);
    table_->setStyleSheet(QStringLiteral("QListView { background: %1; }").arg(kitColor("#373a3d").name()));
    flag_->hide();
    ring_->raise();
    flag_->raise();
    smartWidget_->raise();

    map_->onResized = [this] {
        if (events_) events_->onMapViewResized();
    };
    connect(searchField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (events_) events_->onSearchFieldChanged(text.toStdString());
    });
    forwardTableEvents(*table_, events_);
    connect(profileButton_, &QAbstractButton::clicked, this, [this] {
        if (events_) events_->onProfileButtonClick();
    });
    connect(settingsButton_, &QAbstractButton::clicked, this, [this] {
        if (events_) events_->onSettingsButtonClick();
    });
    connect(locationsButton_, &QAbstractButton::clicked, this, [this] {
        if (events_) events_->onLocationsButtonClick();
    });
    popover_->onRowClicked = [this](int row) {
        if (events_) events_->onProfileMenuRowClicked(row);
    };

    // The two middle titles are the menu's own; the catalogue has the others.
    const std::string titles[] = {LocaleData::user_profile_menu_item_my_account(), "View Invoices", "Invite Friends",
                                  LocaleData::user_profile_menu_item_my_sign_out()};
    for (int i = 0; i < 4; ++i) {
        auto* action = popUpMenu_->addAction(QString::fromStdString(titles[i]));
        popUpActions_[static_cast<std::size_t>(i)] = action;
        connect(action, &QAction::hovered, this, [this, i] {
            if (events_) events_->menuWillHighlightItem(i);
        });
        connect(action, &QAction::triggered, this, [this, i] {
            if (events_) events_->onProfilePopUpMenuItem(i);
        });
    }
    connect(popUpMenu_, &QMenu::aboutToHide, this, [this] {
        if (events_) events_->menuWillHighlightItem(std::nullopt);
    });
    profileButton_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(profileButton_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        popUpMenu_->popup(profileButton_->mapToGlobal(at));
    });
    layoutContent();
}

MainWindowWidget::~MainWindowWidget() {
    MainViewFlagImage::mouseDownHandler = nullptr;
    table_->setModel(nullptr);
}

QWidget* MainWindowWidget::mapView() const { return map_; }

void MainWindowWidget::resizeEvent(QResizeEvent* event) {
    KitWindow::resizeEvent(event);
    layoutContent();
}

void MainWindowWidget::layoutContent() {
    topBar_->setGeometry(0, 0, width(), kTopBarHeight);
    int x = width() - kPad - kButton;
    for (auto* button : {profileButton_, settingsButton_, locationsButton_}) {
        button->move(x, (kTopBarHeight - kButton) / 2);
        x -= kButton + 6;
    }
    titleLabel_->setGeometry(16, 0, x - 16, kTopBarHeight);
    const int bodyHeight = height() - kTopBarHeight;
    locationsColumn_->setGeometry(0, kTopBarHeight, kLocationsWidth, bodyHeight);
    searchField_->setGeometry(kPad, kPad, kLocationsWidth - 2 * kPad, 34);
    table_->setGeometry(0, kPad + 34 + kPad, kLocationsWidth, bodyHeight - (kPad + 34 + kPad));
    map_->setGeometry(kLocationsWidth, kTopBarHeight, width() - kLocationsWidth, bodyHeight);
    detailsContainer_->setGeometry(0, 0, map_->width(), map_->height());
    smartWidget_->setGeometry(kPad, map_->height() - kTileHeight - kPad, map_->width() - 2 * kPad, kTileHeight);
    overlay_->setGeometry(rect());
}

void MainWindowWidget::changeEvent(QEvent* event) {
    KitWindow::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange) titleLabel_->setFullText(windowTitle());
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && events_) events_->windowDidBecomeMain();
}

void MainWindowWidget::bindTable(LocationsTableViewModel& viewModel) {
    if (tableModel_) return;
    tableModel_ = new LocationsTableQtModel(viewModel, images_, this);
    table_->setViewModel(&viewModel);
    table_->setModel(tableModel_);
}

void MainWindowWidget::scrollRowToVisible(int row) {
    if (!tableModel_ || row < 0 || row >= tableModel_->rowCount()) return;
    table_->setKeyboardRow(row);
    table_->scrollTo(tableModel_->index(row), QAbstractItemView::EnsureVisible);
}

void MainWindowWidget::setTableScrollingDisabled(bool disabled) { table_->setScrollingDisabled(disabled); }

void MainWindowWidget::setSearchFieldHidden(bool hidden) { searchField_->setHidden(hidden); }

void MainWindowWidget::setMapImage(const ImagePtr& image) { map_->setMap(toQImage(image)); }

MainWindowView::Size MainWindowWidget::mapViewSize() const {
    return {static_cast<double>(map_->width()), static_cast<double>(map_->height())};
}

void MainWindowWidget::placeFlag(const ImagePtr& flag, const FlagPlacement& placement) {
    const double s = FlagPlacement::kRequiredFlagSize;
    const double r = FlagPlacement::kFlagLoadingIndicatorSize;
    flag_->setImage(toQImage(flag));
    flag_->setGeometry(QRectF(placement.centreX - s / 2, placement.centreY - s / 2, s, s).toRect());
    ring_->setGeometry(QRectF(placement.centreX - r / 2, placement.centreY - r / 2, r, r).toRect());
    flag_->show();
}

void MainWindowWidget::animateFlagAppearing() { flag_->animateAppearing(); }

void MainWindowWidget::animateFlagDisappearing() { flag_->animateDisappearing(); }

void MainWindowWidget::setFlagLoadingIndicatorSpinning(bool spinning) {
    if (spinning) {
        ring_->startRotationAnimation();
    } else {
        ring_->stopRotationAnimation();
    }
}

void MainWindowWidget::setFlagClickHandler(std::function<void()> handler) {
    MainViewFlagImage::mouseDownHandler = std::move(handler);
}

void MainWindowWidget::setSmartWidgetLoading(bool loading) { smartWidget_->setLoading(loading); }

void MainWindowWidget::setSmartWidgetIcon(const ImagePtr& icon) { smartWidget_->setIcon(toQImage(icon)); }

std::string MainWindowWidget::smartWidgetTitle() const { return smartWidget_->title()->fullText().toStdString(); }

void MainWindowWidget::setSmartWidgetTitle(const std::string& title) {
    smartWidget_->title()->setFullText(QString::fromStdString(title));
}

void MainWindowWidget::setSmartWidgetSubtitle(const std::string& firstLine, const std::string& secondLine) {
    smartWidget_->subtitle()->setFullText(QString::fromStdString(firstLine));
    smartWidget_->subtitleSecondLine()->setFullText(QString::fromStdString(secondLine));
}

void MainWindowWidget::setSmartWidgetLinkText(const std::string& text) {
    smartWidget_->updateLinkButtonLabel(QString::fromStdString(text));
}

QWidget* MainWindowWidget::fadeTarget(SmartWidgetElement element) const {
    switch (element) {
        case SmartWidgetElement::icon: return smartWidget_->icon();
        case SmartWidgetElement::title: return smartWidget_->title();
        case SmartWidgetElement::subtitle: return smartWidget_->subtitle();
        case SmartWidgetElement::link: return smartWidget_->linkButton();
    }
    return nullptr;
}

void MainWindowWidget::fadeSmartWidget(SmartWidgetElement element, bool in, double seconds,
                                       std::function<void()> done) {
    std::vector<QWidget*> targets{fadeTarget(element)};
    if (element == SmartWidgetElement::subtitle) targets.push_back(smartWidget_->subtitleSecondLine());
    auto remaining = std::make_shared<int>(static_cast<int>(targets.size()));
    auto finish = [remaining, done = std::move(done)] {
        if (--*remaining == 0 && done) done();
    };
    for (QWidget* target : targets) {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(target->graphicsEffect());
        if (!effect) {
            effect = new QGraphicsOpacityEffect(target);
            target->setGraphicsEffect(effect);
        }
        if (in) target->show();
        const double end = in ? 1.0 : 0.0;
        const int ms = static_cast<int>(seconds * 1000);
        if (ms <= 0) {
            effect->setOpacity(end);
            if (!in) target->hide();
            finish();
            continue;
        }
        auto* animation = new QPropertyAnimation(effect, "opacity", target);
        animation->setDuration(ms);
        animation->setStartValue(effect->opacity());
        animation->setEndValue(end);
        connect(animation, &QPropertyAnimation::finished, target, [target, in, finish] {
            if (!in) target->hide();
            finish();
        });
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void MainWindowWidget::setSmartWidgetClickHandler(std::function<void()> handler) {
    smartWidget_->mouseDownHandler = std::move(handler);
}

void MainWindowWidget::showProfilePopover(const std::vector<ProfileMenuTableItemModel>& rows, double height) {
    popover_->setRows(rows, height);
    popover_->showBelow(*profileButton_);
}

void MainWindowWidget::closeProfilePopover() { popover_->close(); }

void MainWindowWidget::setProfileMenuRowBackgrounds(const std::vector<std::string>& colours) {
    popover_->setRowBackgrounds(colours);
}

void MainWindowWidget::setProfilePopUpMenuIcons(const std::array<std::string, 4>& iconNames) {
    for (std::size_t i = 0; i < iconNames.size(); ++i) popUpActions_[i]->setIcon(kitIcon(iconNames[i]));
}

void MainWindowWidget::setNoInternetOverlayHidden(bool hidden) {
    overlay_->setHidden(hidden);
    if (!hidden) overlay_->raise();
}

void MainWindowWidget::refreshHandCursors() {
    // Qt keeps cursors per widget: put the hand back where a child may have changed it.
    for (QWidget* w : {static_cast<QWidget*>(profileButton_), static_cast<QWidget*>(settingsButton_),
                       static_cast<QWidget*>(locationsButton_), static_cast<QWidget*>(smartWidget_->linkButton()),
                       static_cast<QWidget*>(smartWidget_)})
        w->setCursor(Qt::PointingHandCursor);
    flag_->restoreCursor();
}

}  // namespace hw
