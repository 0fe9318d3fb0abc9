// The control kit's controls, each in a small window as the windows use them.
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <map>

#include "core/url_model.h"
#include "shots.h"
#include "view/activity_indicator_with_image.h"
#include "view/bf_page_control.h"
#include "view/color_fill_views.h"
#include "view/do_tabbar_view.h"
#include "view/hyperlink_text_field.h"
#include "view/kit_color.h"
#include "view/kit_controls.h"
#include "view/kit_fades.h"
#include "view/kit_fonts.h"
#include "view/kit_popover.h"
#include "view/kit_window.h"

namespace hw::shots {
namespace {

QLabel* caption(const QString& text, QWidget* parent, const QColor& color = kitColor("#303334")) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(kitFont("Lato-Semibold", 13));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    return label;
}

void fill(QWidget& widget, const QColor& colour) {
    QPalette p = widget.palette();
    p.setColor(QPalette::Window, colour);
    widget.setPalette(p);
    widget.setAutoFillBackground(true);
}

QVBoxLayout* column(QWidget* parent, int margin, int spacing = -1) {
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(margin, margin, margin, margin);
    if (spacing >= 0) layout->setSpacing(spacing);
    return layout;
}

KitWindow& plainWindow(ShotStage& stage, int width, int height, const char* background = "#ffffff") {
    auto& window = stage.window<KitWindow>();
    window.setTitle("Havenway");
    window.setFixedSize(width, height);
    fill(window, kitColor(background));
    window.move(80, 80);
    return window;
}

HW_SHOT("kit.links", [](ShotStage& stage) {
    auto& window = plainWindow(stage, 520, 260);
    auto* blue = new CustomNSView(&window);
    blue->setGeometry(0, 0, 520, 260);
    auto* layout = column(blue, 30, 14);

    auto* plain = new HyperlinkTextField(blue);
    plain->setTextColor(Qt::white);
    plain->setFont(kitFont("Lato-Semibold", 15));
    plain->setStringValue("Sign in to start your protected connection.");
    layout->addWidget(plain);

    auto* mixed = new MixedNSTextFieldWithHyperlink(blue);
    mixed->setTextColor(Qt::white);
    mixed->applyTextWithLink("Don't have an account? ", URLModel("https://havenway.test/signup", "Create one", Color::fromRgba("#18ef8e")), " in a minute.");
    layout->addWidget(mixed);

    auto* underlined = new NSLabelWithHyperlink(blue);
    underlined->setAlignment(Qt::AlignHCenter);
    setHyperlinkUnderlined(*underlined, URLModel("https://havenway.test/verify", "Click here."), Color::fromRgba("#FFFFFF"));
    layout->addWidget(underlined);

    auto* server = new MixedNSTextFieldWithHyperlink(blue);
    server->setTextColor(toQColor(Color::fromRgba("#FFFFFF33")));
    server->applyPlainText("Server text stays as typed: <b>50% off</b>");
    layout->addWidget(server);
    layout->addStretch();
    window.show();
});

HW_SHOT("kit.page-control", [](ShotStage& stage) {
    auto& window = plainWindow(stage, 420, 220);
    auto* layout = column(&window, 24);
    layout->addWidget(caption("Welcome to Havenway", &window), 0, Qt::AlignHCenter);
    layout->addStretch();

    auto* dots = new BFPageControl(&window);
    dots->setNumberOfPages(4);
    dots->setCurrentPage(1);
    dots->setFixedHeight(20);
    layout->addWidget(dots);

    auto* custom = new BFPageControl(&window);
    custom->setNumberOfPages(5);
    custom->setIndicatorDiameterSize(8);
    custom->setIndicatorMargin(10);
    custom->setCurrentPage(3);
    custom->setFixedHeight(20);
    custom->setDrawingBlock([](QPainter& painter, const QRectF& rect, BFPageControl&, bool selected, bool) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(kitColor("#15A9EA"), 1.5));
        painter.setBrush(selected ? kitColor("#15A9EA") : QColor(Qt::transparent));
        painter.drawEllipse(rect.adjusted(0.75, 0.75, -0.75, -0.75));
    });
    layout->addWidget(custom);

    auto* none = new BFPageControl(&window);
    none->setFixedHeight(10);
    layout->addWidget(none);
    window.show();
});

class SettingsTabs : public DOTabbarDelegate {
public:
    std::vector<std::string> tabbarGroupIdentifiers(DOTabbar&) override { return {"groupID"}; }
    std::vector<std::string> tabbarItemIdentifiersForGroupIdentifier(DOTabbar&, const std::string&) override {
        return {"general", "protocol", "auto_wifi", "kill_switch", "support"};
    }
    DOTabbarItemCell tabbarCellForItemIdentifier(DOTabbar&, const std::string& item) override {
        static const std::map<std::string, std::pair<std::string, std::string>> look{
            {"general", {"General", "settings_page_toolbar_icon_general"}},
            {"protocol", {"Protocol", "settings_page_toolbar_icon_protocol"}},
            {"auto_wifi", {"Auto. WiFi", "settings_page_toolbar_icon_auto_wifi"}},
            {"kill_switch", {"Kill Switch", "settings_page_toolbar_icon_auto_kill_switch"}},
            {"support", {"Support", "settings_page_toolbar_icon_support"}}};
        DOTabbarItemCell cell;
        cell.setTitle(look.at(item).first);
        cell.setImage(look.at(item).second);
        return cell;
    }
};

HW_SHOT("kit.tab-bar", [](ShotStage& stage) {
    static SettingsTabs delegate;
    auto& window = plainWindow(stage, 480, 200);
    auto* layout = column(&window, 0);
    auto* tabs = new DOTabbarView(&window);
    tabs->tabbar().setDelegate(&delegate);
    tabs->tabbar().selectItemWithIdentifier("protocol");
    tabs->tabbar().setHoveredItem("kill_switch");
    layout->addWidget(tabs);
    layout->addStretch();
    window.show();
});

HW_SHOT("kit.placeholder", [](ShotStage& stage) {
    auto& window = plainWindow(stage, 440, 300, "#efefef");
    auto* layout = column(&window, 20);
    for (const QString text : {"", "The connection drops every few minutes on hotel Wi-Fi."}) {
        layout->addWidget(caption(text.isEmpty() ? "Empty" : "With text", &window));
        auto* field = new TextViewWithPlaceHolder(&window);
        field->setFont(kitFont("Lato-Regular", 13));
        field->setPlainText(text);
        layout->addWidget(field);
    }
    window.show();
});

QWidget* fakeRows(QWidget* parent, const QString& background) {
    auto* list = new QWidget(parent);
    fill(*list, QColor(background));
    auto* rows = column(list, 14);
    for (const char* place : {"Automatic", "Germany", "Japan", "United States", "Brazil", "Canada"})
        rows->addWidget(caption(place, list, Qt::white));
    rows->addStretch();
    return list;
}

HW_SHOT("kit.overlays", [](ShotStage& stage) {
    auto& window = plainWindow(stage, 640, 280, "#303334");
    auto* left = fakeRows(&window, "#373a3d");
    left->setGeometry(0, 0, 210, 280);
    auto* locations = new OverlayForLocationsTable(left);
    locations->setGeometry(left->rect());
    auto* offline = caption("No internet connection", locations, Qt::white);
    offline->setAlignment(Qt::AlignCenter);
    offline->setGeometry(locations->rect());
    fadeInWithDuration(*locations, 0.3);

    auto* middle = fakeRows(&window, "#4b4e51");
    middle->setGeometry(215, 0, 210, 280);
    auto* update = new AutoUpdateModalOverlay(middle);
    update->setGeometry(middle->rect());
    fadeInWithDuration(*update, 0.3);

    auto* loading = new LoadingProgressOverlay(&window);
    loading->setGeometry(430, 0, 210, 280);
    auto* spinner = new ActivityIndicatorWithImage(loading);
    spinner->setImageName("Activity_spinner");
    spinner->setGeometry(89, 124, 32, 32);
    spinner->startRotationAnimation();
    stage.advanceAnimations(400);
    window.show();
});

HW_SHOT("kit.spinner", [](ShotStage& stage) {
    auto& window = plainWindow(stage, 300, 140);
    auto* blue = new CustomNSView(&window);
    blue->setGeometry(0, 0, 150, 140);
    auto* spinner = new ActivityIndicatorWithImage(blue);
    spinner->setImageName("Activity_spinner");
    spinner->setGeometry(51, 46, 48, 48);
    spinner->startRotationAnimation();
    auto* flag = new FlagActivityIndicator(&window);
    flag->setGeometry(201, 46, 48, 48);
    flag->startRotationAnimation();
    // An eighth of a turn in, so the picture shows it has turned clockwise.
    stage.advanceAnimations(88);
    window.show();
});

HW_SHOT("kit.alert-sheet", [](ShotStage& stage) {
    auto& window = plainWindow(stage, 560, 360, "#ffffff");
    (new QVBoxLayout(&window))->addWidget(caption("Settings", &window), 0, Qt::AlignHCenter | Qt::AlignTop);
    window.show();
    stage.afterShown([&window] {
        window.alerts().presentAlert({"Are you sure you want to quit Havenway?",
                                      "Your connection will be closed. Server text stays plain: <i>note</i>",
                                      {"Quit", "Cancel"},
                                      AlertStyle::Warning,
                                      AlertModality::Sheet},
                                     [](int) {});
    });
});

HW_SHOT("kit.popover", [](ShotStage& stage) {
    auto& window = plainWindow(stage, 460, 300, "#303334");
    auto* button = new NSButtonWithHandCursor("Connect", &window);
    button->setGeometry(170, 40, 120, 36);
    window.show();
    stage.afterShown([&window, button] {
        auto* popover = new KitPopover(KitPopover::Kind::Popover, &window);
        auto* text = new QLabel("Choose a location first,\nthen press Connect.", popover);
        text->setTextFormat(Qt::PlainText);
        text->setFont(kitFont("Lato-Regular", 13));
        popover->setContent(text);
        popover->showRelativeTo(*button, button->rect());
    });
});

}  // namespace
}  // namespace hw::shots
