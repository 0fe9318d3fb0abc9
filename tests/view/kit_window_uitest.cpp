#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "core/global_constants.h"
#include "support/kit_controller_fixture.h"
#include "support/widget_test_app.h"
#include "view/base_window_view_controller.h"
#include "view/kit_images.h"
#include "view/kit_window.h"

namespace hw::test {
namespace {

class KitWindowTest : public ::testing::Test, public WidgetAppFirst {};

QPushButton* buttonTitled(QMessageBox* box, const QString& title) {
    for (auto* b : box->findChildren<QPushButton*>())
        if (b->text() == title) return b;
    return nullptr;
}

TEST_F(KitWindowTest, AlertAsModalBlocksTheApplicationAndShowsTextsAsTyped) {
    QtAlertView alerts;
    int response = 0;
    int calls = 0;
    alerts.presentAlert({"<b>Server</b>", "<i>says</i> <a href='x'>hi</a>", {}, AlertStyle::Informational,
                         AlertModality::Application},
                        [&](int r) {
                            response = r;
                            ++calls;
                        });
    QMessageBox* box = alerts.current();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    for (auto* label : box->findChildren<QLabel*>()) {
        if (label->text().contains("Server") || label->text().contains("says")) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
    }
    QTest::mouseClick(buttonTitled(box, "OK"), Qt::LeftButton);
    EXPECT_EQ(response, 1000);
    EXPECT_EQ(calls, 1);
}

TEST_F(KitWindowTest, ClosingTheWindowRunsTheControllersCloseHooks) {
    KitControllerFixture f;
    KitWindow window;
    BaseWindowViewController controller(f.context, window);
    int closed = 0;
    controller.onWindowClosedNotification = [&](BaseWindowViewController&) { ++closed; };
    controller.showWindow();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "Havenway");
    controller.orderOut();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(closed, 0);
    controller.showWindow();
    window.QWidget::close();  // the title bar's button
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(KitWindowTest, FixedSizeWindowOffersNoMaximizeAndReopensWhereItWas) {
    KitWindow fixed, free;
    fixed.setFixedSize(300, 200);
    free.resize(300, 200);
    for (int opening = 0; opening < 2; ++opening) {
        fixed.center();
        const QPoint at = fixed.pos();
        fixed.show();
        free.show();
        EXPECT_FALSE(fixed.windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(fixed.windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_TRUE(fixed.windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_TRUE(free.windowFlags() & Qt::WindowMaximizeButtonHint) << "a window that can grow keeps it";
        EXPECT_EQ(fixed.pos(), at);
        fixed.orderOut();
        fixed.center();
        EXPECT_EQ(fixed.pos(), at) << "opening " << opening;
    }
}

TEST_F(KitWindowTest, AlertIsWideEnoughForItsTitle) {
    QtAlertView alerts;
    alerts.presentAlert({"Quit?", "", {"OK"}, AlertStyle::Informational, AlertModality::Application}, [](int) {});
    QMessageBox* box = alerts.current();
    ASSERT_NE(box, nullptr);
    EXPECT_GE(box->width(), QtAlertView::kMinimumAlertWidth);
    box->reject();
}

TEST_F(KitWindowTest, AnExceptionFromAnEventReachesTheHandler) {
    struct Thrower : QObject {
        bool event(QEvent* e) override {
            if (e->type() == QEvent::User) throw std::runtime_error("boom");
            return QObject::event(e);
        }
    } thrower;
    std::string caught;
    widgetTestApp().setExceptionHandler([&](const std::exception& e) { caught = e.what(); });
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&thrower, &event));
    EXPECT_EQ(caught, "boom");
    widgetTestApp().setExceptionHandler(nullptr);
}

TEST_F(KitWindowTest, EveryImageNameTheCodeUsesResolves) {
    std::vector<std::string> names{"Activity_spinner", "Flag_spinner"};
    for (const auto& [style, model] : GlobalConstants::notificationBarStyles()) names.push_back(model.icon);
    for (const auto& name : names) {
        EXPECT_TRUE(kitImageExists(name)) << name;
        EXPECT_FALSE(kitImage(name, QSize(16, 16)).isNull()) << name;
    }
    // Every drawing shipped draws.
    QDirIterator shipped(":/images");
    int count = 0;
    while (shipped.hasNext()) {
        const QString name = QFileInfo(shipped.next()).completeBaseName();
        EXPECT_FALSE(kitImage(name.toStdString(), QSize(24, 24)).isNull()) << name.toStdString();
        ++count;
    }
    EXPECT_GE(count, int(names.size()));
    EXPECT_FALSE(kitImageExists("No_such_image"));
    EXPECT_TRUE(kitImage("No_such_image").isNull());
}

// The first window draws its pictures without the icon engine's plugin: they
// must come out as that engine draws them, whatever the box and the scale.
TEST_F(KitWindowTest, SvgPixmapsMatchWhatTheIconEngineDraws) {
    QDirIterator shipped(":/images");
    int compared = 0;
    while (shipped.hasNext() && compared < 12) {
        const QString path = shipped.next();
        if (!path.endsWith(".svg")) continue;
        ++compared;
        for (const QSize box : {QSize(120, 120), QSize(40, 24)}) {
            for (const qreal scale : {1.0, 2.0}) {
                const QPixmap ours = svgPixmap(path, box, scale);
                const QPixmap engine = QIcon(path).pixmap(box, scale);
                ASSERT_FALSE(ours.isNull()) << path.toStdString();
                EXPECT_EQ(ours.devicePixelRatio(), engine.devicePixelRatio()) << path.toStdString();
                EXPECT_EQ(ours.toImage().convertToFormat(QImage::Format_ARGB32),
                          engine.toImage().convertToFormat(QImage::Format_ARGB32))
                    << path.toStdString() << " " << box.width() << "x" << box.height() << "@" << scale;
            }
        }
    }
    EXPECT_GT(compared, 0);
    EXPECT_TRUE(svgPixmap(":/images/No_such_image.svg", QSize(10, 10), 1.0).isNull());
}

TEST_F(KitWindowTest, TemplateImagesTakeTheirColour) {
    const QImage tinted = kitTemplateImage("Top_bar_icon_style_green", Qt::red, QSize(20, 20));
    ASSERT_FALSE(tinted.isNull());
    const QColor centre = tinted.pixelColor(10, 10);
    EXPECT_EQ(centre.red(), 255);
    EXPECT_EQ(centre.green(), 0);
    EXPECT_EQ(tinted.pixelColor(0, 0).alpha(), 0);
}

}  // namespace
}  // namespace hw::test
