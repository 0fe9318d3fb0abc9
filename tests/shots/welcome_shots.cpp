// The welcome window: its first and its last page.
#include "app/welcome_window_port_adapter.h"
#include <QTest>

#include "shots.h"
#include "support/fake_hub_factory.h"
#include "support/recording_url_opener.h"
#include "view/bf_page_control.h"
#include "windows/login/auth_shell_commands.h"

namespace hw::shots {
namespace {

class WelcomeRig final : public QWidget {
public:
    WelcomeRig() {
        hub = std::make_unique<ServiceLayer>(factory);
        window = std::make_unique<WelcomeWindowPortAdapter>(
            BaseControllerContext{hub->appModel(), nullptr, opener}, shell);
        window->widget().move(80, 80);
        window->showWindow();
    }
    ~WelcomeRig() override {
        window.reset();
        hub.reset();
    }

    std::shared_ptr<test::FakeHubFactory> factory = std::make_shared<test::FakeHubFactory>();
    std::unique_ptr<ServiceLayer> hub;
    test::RecordingURLOpener opener;
    test::AuthShellCommands shell;
    std::unique_ptr<WelcomeWindowPortAdapter> window;
};

HW_SHOT("welcome.first-page", [](ShotStage& stage) { stage.window<WelcomeRig>(); });

HW_SHOT("welcome.third-page", [](ShotStage& stage) {
    auto& rig = stage.window<WelcomeRig>();
    stage.afterShown([&rig] {
        BFPageControl& dots = rig.window->widget().dots();
        QTest::mouseClick(&dots, Qt::LeftButton, {}, dots.dotRects().at(2).center().toPoint());
    });
});

HW_SHOT("welcome.last-page", [](ShotStage& stage) {
    auto& rig = stage.window<WelcomeRig>();
    // A click on the last dot, as a user would.
    stage.afterShown([&rig] {
        BFPageControl& dots = rig.window->widget().dots();
        QTest::mouseClick(&dots, Qt::LeftButton, {}, dots.dotRects().back().center().toPoint());
    });
});

}  // namespace
}  // namespace hw::shots
