#pragma once
#include <optional>
#include <string>
#include <vector>

namespace hw {

// The user's session login items: programs the desktop starts when the user
// logs in.
class LoginItems {
public:
    struct Item {
        // Names the entry for remove().
        std::string id;
        // The program the entry starts; nothing when the entry cannot be read.
        std::optional<std::string> program;
    };

    virtual ~LoginItems() = default;
    // The entries in order; nothing when the list cannot be opened.
    virtual std::optional<std::vector<Item>> snapshot() = 0;
    virtual bool remove(const std::string& id) = 0;
    // Appends an entry that starts the program, hidden when asked.
    virtual bool add(const std::string& program, bool hideOnLaunch) = 0;
};

}  // namespace hw
