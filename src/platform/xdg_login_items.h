#pragma once
#include <string>

#include "platform/login_items.h"

namespace hw {

// Login items as XDG autostart entries: one .desktop file each in
// $XDG_CONFIG_HOME/autostart (else ~/.config/autostart). An entry's program is
// the first word of its Exec line.
class XdgLoginItems final : public LoginItems {
public:
    // The folder by the environment.
    XdgLoginItems();
    explicit XdgLoginItems(std::string folder) : folder_(std::move(folder)) {}

    std::optional<std::vector<Item>> snapshot() override;
    bool remove(const std::string& id) override;
    // Writes havenway.desktop, replacing one that is there.
    bool add(const std::string& program, bool hideOnLaunch) override;

    static constexpr char kFileName[] = "havenway.desktop";
    // The program of an entry's text, nothing without an Exec line.
    static std::optional<std::string> programOf(const std::string& desktopEntry);
    // An Exec word for a path, quoted when it has to be; nothing for a path
    // that no Exec line can carry.
    static std::optional<std::string> execWord(const std::string& path);

private:
    std::string folder_;
};

}  // namespace hw
