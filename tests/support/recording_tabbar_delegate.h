#pragma once
// A tab bar's delegate that answers one group of items and records what it was asked and told.
#include <string>
#include <vector>

#include "view/do_tabbar.h"

namespace hw::test {

class RecordingTabbarDelegate : public DOTabbarDelegate {
public:
    std::vector<std::string> items{"general", "protocol", "support"};
    std::vector<std::string> asked;
    std::vector<std::string> selected;          // each item the delegate was told of
    std::vector<std::string> selectedWhenTold;  // the tab bar's selection at that moment

    std::vector<std::string> tabbarGroupIdentifiers(DOTabbar&) override {
        asked.push_back("groups");
        return {"groupID"};
    }
    std::optional<std::string> tabbarTitleForGroupIdentifier(DOTabbar&, const std::string& group) override {
        asked.push_back("title:" + group);
        return std::nullopt;
    }
    std::vector<std::string> tabbarItemIdentifiersForGroupIdentifier(DOTabbar&, const std::string& group) override {
        asked.push_back("items:" + group);
        return items;
    }
    DOTabbarItemCell tabbarCellForItemIdentifier(DOTabbar&, const std::string& item) override {
        asked.push_back("cell:" + item);
        DOTabbarItemCell cell;
        cell.setTitle(item);
        return cell;
    }
    void tabbarDidSelectItemWithIdentifier(DOTabbar& tabbar, const std::string& item) override {
        selected.push_back(item);
        selectedWhenTold.push_back(tabbar.selectedIdentifier());
    }
};

}  // namespace hw::test
