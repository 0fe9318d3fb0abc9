#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hw {

// One item of the tab bar: its title and image as the delegate sets them.
class DOTabbarItemCell {
public:
    void setTitle(std::string title) { title_ = std::move(title); }
    void setImage(std::string imageName) { image_ = std::move(imageName); }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
    const std::string& title() const { return title_; }
    const std::string& image() const { return image_; }
    const std::string& identifier() const { return identifier_; }

    bool selected = false;
    bool hovered = false;

private:
    std::string title_;
    std::string image_;
    std::string identifier_;
};

class DOTabbar;

class DOTabbarDelegate {
public:
    virtual ~DOTabbarDelegate() = default;
    virtual std::vector<std::string> tabbarGroupIdentifiers(DOTabbar& tabbar) = 0;
    virtual std::vector<std::string> tabbarItemIdentifiersForGroupIdentifier(DOTabbar& tabbar,
                                                                             const std::string& group) = 0;
    virtual DOTabbarItemCell tabbarCellForItemIdentifier(DOTabbar& tabbar, const std::string& item) = 0;
    // Optional: no title unless answered.
    virtual std::optional<std::string> tabbarTitleForGroupIdentifier(DOTabbar&, const std::string&) {
        return std::nullopt;
    }
    // Optional: every click on an item, after it is selected.
    virtual void tabbarDidSelectItemWithIdentifier(DOTabbar&, const std::string&) {}
};

// The grouped tab bar's items and selection; DOTabbarView draws it.
class DOTabbar {
public:
    struct Group {
        std::string identifier;
        std::optional<std::string> title;
        std::vector<DOTabbarItemCell> cells;
    };

    // Not owned. Setting a different delegate loads the items again.
    void setDelegate(DOTabbarDelegate* delegate);
    DOTabbarDelegate* delegate() const { return delegate_; }
    void reloadData();

    const std::vector<Group>& groups() const { return groups_; }
    const std::string& selectedIdentifier() const { return selected_; }

    // Selects without telling the delegate; the same identifier again changes nothing.
    void selectItemWithIdentifier(const std::string& identifier);
    // A click: selects, then tells the delegate, every time.
    void clickItem(const std::string& identifier);
    void setHoveredItem(const std::string& identifier);

    // The view redraws on this.
    std::function<void()> onChange;

private:
    DOTabbarItemCell* cell(const std::string& identifier);
    void changed() {
        if (onChange) onChange();
    }

    DOTabbarDelegate* delegate_ = nullptr;
    std::vector<Group> groups_;
    std::string selected_;
};

}  // namespace hw
