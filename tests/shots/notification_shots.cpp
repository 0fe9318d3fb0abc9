// The eight banners, drawn as the desktop's notification cards from what the
// banner helper delivers.
#include <QPainter>
#include <QWidget>
#include <stdexcept>

#include "app/user_notification_helper.h"
#include "hub/service_layer.h"
#include "shots.h"
#include "support/fake_hub_factory.h"
#include "support/fake_user_notification_center.h"
#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "view/kit_images.h"

namespace hw::shots {
namespace {

// A banner as the desktop lists it: the application's icon and name, the
// title, the text and the buttons.
class NotificationCard final : public QWidget {
public:
    explicit NotificationCard(UserNotificationCenter::Notification n) : n_(std::move(n)) {
        setWindowFlags(Qt::FramelessWindowHint);
        resize(400, n_.actionButtonTitle.empty() ? 118 : 152);
        move(120, 80);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), kitColor("#3A3A3AFF"));
        p.setBrush(kitColor("#FAFAFAFF"));
        p.setPen(kitColor("#D9D9D9FF"));
        p.drawRoundedRect(QRectF(rect()).adjusted(6.5, 6.5, -6.5, -6.5), 10, 10);
        p.drawImage(QPoint(22, 20), kitTemplateImage("MenuBar_icon_CONNECTED", kitColor("#25AAE7FF"), QSize(18, 18),
                                                     devicePixelRatioF()));
        p.setPen(kitColor("#6E6E6EFF"));
        p.setFont(latoFont(QFont::Normal, 12));
        p.drawText(QRect(48, 20, 300, 18), Qt::AlignVCenter, QStringLiteral("Havenway · now"));
        p.setPen(kitColor("#1E1E1EFF"));
        p.setFont(latoFont(QFont::Bold, 14));
        p.drawText(QRect(22, 46, width() - 44, 20), Qt::AlignVCenter, QString::fromStdString(n_.title));
        p.setFont(latoFont(QFont::Normal, 13));
        p.setPen(kitColor("#3C3C3CFF"));
        p.drawText(QRect(22, 68, width() - 44, 36), Qt::TextWordWrap, QString::fromStdString(n_.informativeText));
        if (n_.actionButtonTitle.empty()) return;
        const int w = (width() - 52) / 2;
        for (int i = 0; i < 2; ++i) {
            const QRect r(22 + i * (w + 8), 108, w, 30);
            p.setPen(kitColor("#D0D0D0FF"));
            p.setBrush(kitColor("#EFEFEFFF"));
            p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
            p.setPen(kitColor("#1E1E1EFF"));
            p.drawText(r, Qt::AlignCenter, QString::fromStdString(i == 0 ? n_.actionButtonTitle : n_.otherButtonTitle));
        }
    }

private:
    UserNotificationCenter::Notification n_;
};

using Show = std::function<void(UserNotificationHelper&, ApplicationModel&)>;

// The banner the helper delivers for this call, as the desktop draws it.
void bannerShot(const char* name, Show show) {
    addShot(name, [=](ShotStage& stage) {
        auto factory = std::make_shared<test::FakeHubFactory>();
        ServiceLayer hub(factory);
        test::FakeUserNotificationCenter center;
        UserNotificationHelper helper(center, factory->queue, factory->queue, hub.appModel());
        show(helper, hub.appModel());
        if (center.delivered.empty()) throw std::runtime_error("no banner delivered");
        stage.window<NotificationCard>(center.delivered.back()).show();
    });
}

void bannerShot(const char* name, void (UserNotificationHelper::*show)()) {
    bannerShot(name, [show](UserNotificationHelper& h, ApplicationModel&) { (h.*show)(); });
}

HW_SHOTS({
    using H = UserNotificationHelper;
    bannerShot("notification.connected", [](H& h, ApplicationModel&) { h.showConnectedNotification("Netherlands"); });
    bannerShot("notification.wifi-secured", [](H& h, ApplicationModel& m) {
        m.pendingVPN_Activated_on_UnsecuredWiFi = true;
        h.showConnectedNotification("Netherlands");
    });
    bannerShot("notification.disconnected",
               [](H& h, ApplicationModel&) { h.showDisconnectedNotification("Netherlands"); });
    bannerShot("notification.auto-reconnect", &H::showAutoReconnectWithoutNetworkLockNotification);
    bannerShot("notification.kill-switch", &H::showAutoReconnectWithNetworkLockNotification);
    bannerShot("notification.connection-error", &H::showConnectionErrorNotification);
    bannerShot("notification.insecure-wifi", &H::showInsecureWiFiNotification);
    bannerShot("notification.insecure-wifi-signed-out", &H::showInsecureWiFiNotLoggedInNotification);
});

}  // namespace
}  // namespace hw::shots
