#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/image_codec.h"

namespace hw {

class MenuModel;

// One line of a menu. Enabled states are explicit: nothing enables an item
// because it has an action.
struct MenuItemModel {
    // Stable name of a fixed item ("connect", "location", ...); empty for
    // built items.
    std::string tag;
    std::string title;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    bool visible = true;
    bool separator = false;
    // An image from the backend, or else one of the application's own by name.
    ImagePtr image;
    std::string imageName;
    std::function<void()> action;
    std::shared_ptr<MenuModel> submenu;
};
using MenuItemPtr = std::shared_ptr<MenuItemModel>;

// A menu as data; whoever draws it listens to onChanged.
class MenuModel {
public:
    explicit MenuModel(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    const std::vector<MenuItemPtr>& items() const { return items_; }

    MenuItemPtr add(MenuItemModel item) {
        items_.push_back(std::make_shared<MenuItemModel>(std::move(item)));
        return items_.back();
    }
    void addSeparator() {
        MenuItemModel s;
        s.separator = true;
        s.enabled = false;
        add(std::move(s));
    }
    void removeAllItems() { items_.clear(); }
    // The first item with the tag; null when there is none.
    MenuItemPtr find(const std::string& tag) const {
        for (const auto& i : items_)
            if (i->tag == tag) return i;
        return nullptr;
    }

    // Called after a change: with the item when only it changed, with null
    // when the list of items changed.
    std::function<void(const MenuItemModel*)> onChanged;
    void changed(const MenuItemModel* item = nullptr) const {
        if (onChanged) onChanged(item);
    }

private:
    std::string name_;
    std::vector<MenuItemPtr> items_;
};
using MenuPtr = std::shared_ptr<MenuModel>;

}  // namespace hw
