#pragma once
#include <functional>
#include <memory>

#include "app/shell_window_ports.h"
#include "windows/login/auth_window_view_controller.h"
#include "windows/login/widgets/auth_window_widget.h"

namespace hw {

// What the login window is made of, besides the shell it reports to.
struct AuthWindowAssembly {
    BaseControllerContext context;
    AuthService& authService;
    LinksManager& linksManager;
    MainQueue& mainQueue;
    EnterpriseAuthService* enterpriseAuthService = nullptr;
    UserDefaultsController* settings = nullptr;
    EnterprisePageMaker makeEnterprisePage{};
    bool isEnterpriseVersion = false;
    // --- account creation ---
    FreeTrialSignUpService* freeTrialService = nullptr;
};

// The shell's view of the login window: owns the window and its controller
// and hands each call on. The controller reports to the shell, which is made
// after its windows: attach() joins them before the launch. The window itself
// is made when first needed: a launch into the main window never pays for it.
class AuthWindowPortAdapter final : public AuthWindowPort {
public:
    explicit AuthWindowPortAdapter(AuthWindowAssembly assembly);
    ~AuthWindowPortAdapter() override;

    void attach(ShellCommands& shell);
    // The keyboard quit of this window.
    void setQuitHandler(std::function<void()> handler);
    AuthWindowWidget& widget();
    // None before attach().
    AuthWindowViewController* controller();

    void showWindow() override;
    void orderFront() override;
    void orderOut() override;
    void close() override;
    bool isVisible() const override;
    AlertView* sheetAlerts() override;

    void setPendingLoginData(const std::optional<LoginData>& data) override;
    void setupAfterOpening() override;
    void closeWholeWindow(bool signMeIn) override;
    void updateCreateNewAccountLink() override;
    void showInternetConnectionIsUnavailableNotification() override;
    void setIsInSignUpCompletedState(bool value) override;
    bool isShowingEnterprisePage() const override;
    void startEnterpriseLogin(const std::string& username, const std::string& password) override;
    std::optional<WindowFrame> frame() const override;
    bool canAcceptEnterpriseCode() const override;
    void onDataLoadFailed() override;
    void setRestoringAccount(bool restoring) override;
    void showAccountNotRestored(const std::string& why) override;
    bool userHasActed() const override;

private:
    // Runs the call on the controller, made now if need be; before attach()
    // it is only logged.
    void with(const char* what, const std::function<void(AuthWindowViewController&)>& call);
    // Calls that change nothing on a window never made.
    void ifMade(const std::function<void(AuthWindowViewController&)>& call);
    void make();

    AuthWindowAssembly assembly_;
    ShellCommands* shell_ = nullptr;
    std::function<void()> onQuitKey_;
    std::unique_ptr<AuthWindowWidget> widget_;
    std::unique_ptr<AuthWindowViewController> controller_;
};

}  // namespace hw
