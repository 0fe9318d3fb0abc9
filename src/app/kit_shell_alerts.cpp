#include "app/kit_shell_alerts.h"

namespace hw {

void KitShellAlerts::present(ShellWindowPort* sheetParent, const ShellAlert& alert, std::function<void(int)> done) {
    AlertRequest request;
    request.title = alert.messageText;
    request.message = alert.informativeText;
    request.buttons.push_back(alert.firstButton);
    if (!alert.secondButton.empty()) request.buttons.push_back(alert.secondButton);
    AlertView* sheet = sheetParent && sheetParent->isVisible() ? sheetParent->sheetAlerts() : nullptr;
    request.modality = sheet ? AlertModality::Sheet : AlertModality::Application;
    (sheet ? *sheet : static_cast<AlertView&>(applicationAlerts_)).presentAlert(request, std::move(done));
}

}  // namespace hw
