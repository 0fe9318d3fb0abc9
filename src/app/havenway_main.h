#pragma once
#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace hw {

class EnterpriseService;
class SettingsStore;

// What only the enterprise edition adds to the shell: the web sign-in page and
// the URL scheme. Its entry hands these over; the standard edition hands none
// and so links no web engine.
struct EnterpriseEdition {
    // Before the application object is made.
    std::function<void()> prepareProcess;
    // Every navigation of the page to our own scheme goes to handleURL.
    std::function<std::shared_ptr<EnterpriseService>(SettingsStore& store,
                                                     std::function<void(const std::string& url)> handleURL)>
        makeService;
    // The page, made inside parent, loaded again.
    std::function<QWidget*(EnterpriseService& service, QWidget* parent)> preparePage;
    std::function<void(EnterpriseService& service)> clearCookies;
};

// The application: both editions' entries are this with their ports.
int runHavenway(int argc, char** argv, const EnterpriseEdition* enterprise);

}  // namespace hw
