#include <unistd.h>

#include <QWebEngineView>
#include <QtGlobal>

#include "app/havenway_main.h"
#include "core/global_constants.h"
#include "view/havenway_application.h"
#include "windows/login/enterprise/enterprise_service.h"

// The enterprise edition: sign-in through the identity service's web page, whose
// answer comes back as a havenway: URL. Linking this file sets the build switch.
const bool hw::GlobalConstants::isEnterpriseVersion = true;

int main(int argc, char** argv) {
    using namespace hw;
    EnterpriseEdition edition;
    edition.prepareProcess = [] {
        // Shared GL contexts load GL at start-up: only the page needs them.
        HavenwayApplication::prepare();
        EnterpriseService::registerURLScheme();
        EnterpriseService::quietChromiumLog();
        // Chromium's sandbox cannot start as root; the page then runs without it.
        if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        }
    };
    edition.makeService = [](SettingsStore& store, std::function<void(const std::string&)> handleURL) {
        return std::make_shared<EnterpriseService>(store, std::move(handleURL));
    };
    edition.preparePage = [](EnterpriseService& service, QWidget* parent) -> QWidget* {
        return service.prepareEnterpriseVersionUI(parent);
    };
    edition.clearCookies = [](EnterpriseService& service) { service.clearCookies(); };
    return runHavenway(argc, argv, &edition);
}
