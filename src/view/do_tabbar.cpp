#include "view/do_tabbar.h"

namespace hw {

void DOTabbar::setDelegate(DOTabbarDelegate* delegate) {
    if (delegate == delegate_) return;
    delegate_ = delegate;
    reloadData();
}

void DOTabbar::reloadData() {
    groups_.clear();
    if (delegate_) {
        for (const auto& groupId : delegate_->tabbarGroupIdentifiers(*this)) {
            Group group{groupId, delegate_->tabbarTitleForGroupIdentifier(*this, groupId), {}};
            for (const auto& itemId : delegate_->tabbarItemIdentifiersForGroupIdentifier(*this, groupId)) {
                DOTabbarItemCell cell = delegate_->tabbarCellForItemIdentifier(*this, itemId);
                if (cell.identifier().empty()) cell.setIdentifier(itemId);
                cell.selected = cell.identifier() == selected_ && !selected_.empty();
                group.cells.push_back(std::move(cell));
            }
            groups_.push_back(std::move(group));
        }
    }
    if (!cell(selected_)) selected_.clear();
    changed();
}

DOTabbarItemCell* DOTabbar::cell(const std::string& identifier) {
    if (identifier.empty()) return nullptr;
    for (auto& group : groups_)
        for (auto& c : group.cells)
            if (c.identifier() == identifier) return &c;
    return nullptr;
}

void DOTabbar::selectItemWithIdentifier(const std::string& identifier) {
    if (identifier == selected_) return;
    for (auto& group : groups_) {
        for (auto& c : group.cells) {
            c.hovered = false;
            c.selected = false;
        }
    }
    DOTabbarItemCell* target = cell(identifier);
    if (target) target->selected = true;
    selected_ = target ? identifier : std::string();
    changed();
}

void DOTabbar::clickItem(const std::string& identifier) {
    if (!cell(identifier)) return;
    selectItemWithIdentifier(identifier);
    if (delegate_) delegate_->tabbarDidSelectItemWithIdentifier(*this, identifier);
}

void DOTabbar::setHoveredItem(const std::string& identifier) {
    bool any = false;
    for (auto& group : groups_) {
        for (auto& c : group.cells) {
            const bool hovered = !identifier.empty() && c.identifier() == identifier;
            any = any || hovered != c.hovered;
            c.hovered = hovered;
        }
    }
    if (any) changed();
}

}  // namespace hw
