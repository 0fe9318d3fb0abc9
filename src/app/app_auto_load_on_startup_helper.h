#pragma once
#include <optional>
#include <string>

#include "platform/login_items.h"

namespace hw {

// Adds this application to the session login items, to start hidden, or takes
// it out. Its identity there is the program path.
class AppAutoLoadOnStartupHelper {
public:
    AppAutoLoadOnStartupHelper(LoginItems& items, std::string applicationPath);

    bool isLaunchAtStartup();
    void toggleLaunchAtStartup();
    // This application's entry. Tidies on the way: later entries for this
    // program and entries for a same-named program elsewhere are removed;
    // entries that cannot be read stay.
    std::optional<std::string> itemRefInLoginItems();

private:
    static std::string lastComponent(const std::string& path);

    LoginItems& items_;
    std::string applicationPath_;
};

}  // namespace hw
