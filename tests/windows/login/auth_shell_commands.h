#pragma once
// The shell as the login, sign-up and welcome windows see it.
#include "support/recording_shell_commands.h"

namespace hw::test {

class AuthShellCommands : public RecordingShellCommands {
public:
    void openFreeTrialSignUpWindow() override { calls.push_back("openFreeTrialSignUpWindow"); }
    void hideFreeTrialSignUpWindow() override { calls.push_back("hideFreeTrialSignUpWindow"); }
    void createNewAccountForAppStoreCommand() override { calls.push_back("createNewAccountForAppStoreCommand"); }
    void prepareWiFiUnsecured_EarlyDetection() override { calls.push_back("prepareWiFiUnsecured_EarlyDetection"); }
    void onLoginSuccess() override { calls.push_back("onLoginSuccess"); }
    void onLoginFailed() override { calls.push_back("onLoginFailed"); }
};

}  // namespace hw::test
