#pragma once
#include "app/shell_window_ports.h"
#include "controllers/auth_window_view_controller.h"

namespace hw {

// The shell's view of the login window: a thin adapter onto its controller.
class AuthWindowPortAdapter final : public AuthWindowPort {
public:
    explicit AuthWindowPortAdapter(AuthWindowViewController& controller) : controller_(controller) {
        controller_.onWindowClosedNotification = [this](BaseWindowViewController&) {
            if (onWindowClosedNotification) onWindowClosedNotification();
        };
    }
    ~AuthWindowPortAdapter() override { controller_.onWindowClosedNotification = nullptr; }

    void showWindow() override { controller_.showWindow(); }
    void orderOut() override { controller_.orderOut(); }
    void close() override { controller_.close(); }
    bool isVisible() const override { return controller_.isWindowLoaded() && controller_.window().isVisible(); }

    void setPendingLoginData(const std::optional<LoginData>& data) override { controller_.pendingLoginData = data; }
    void setupAfterOpening() override { controller_.setupAfterOpening(); }
    void closeWholeWindow(bool signMeIn) override { controller_.closeWholeWindow(signMeIn); }
    void updateCreateNewAccountLink() override { controller_.updateCreateNewAccountLink(); }
    void showInternetConnectionIsUnavailableNotification() override {
        controller_.showInternetConnectionIsUnavailableNotification();
    }
    void setIsInSignUpCompletedState(bool value) override { controller_.setIsInSignUpCompletedState(value); }
    bool isShowingEnterprisePage() const override { return controller_.isShowingEnterprisePage(); }
    void startEnterpriseLogin(const std::string& username, const std::string& password) override {
        controller_.startEnterpriseLogin(username, password);
    }
    std::optional<WindowFrame> frame() const override {
        if (!controller_.isWindowLoaded()) return std::nullopt;
        return controller_.window().frame();
    }
    bool canAcceptEnterpriseCode() const override { return controller_.canAcceptEnterpriseCode(); }
    void onDataLoadFailed() override { controller_.onDataLoadFailed(); }

private:
    AuthWindowViewController& controller_;
};

}  // namespace hw
