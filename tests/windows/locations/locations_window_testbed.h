#pragma once
// The locations window beside the main window, both on the real hub and the testbed.
#include "windows/locations/locations_list_window_view_controller.h"
#include "windows/locations/widgets/locations_list_window_widget.h"
#include "windows/main/main_window_testbed.h"

namespace hw::test {

class LocationsWindowTestbed {
public:
    explicit LocationsWindowTestbed(MainWindowTestbed& main) : main_(main) {
        LocationsListWindowViewController::windowOpenedFlag = false;
        widget = std::make_unique<LocationsListWindowWidget>(*main_.images);
        BaseControllerContext context{main_.hub->appModel(), nullptr, main_.urlOpener};
        controller = std::make_shared<LocationsListWindowViewController>(LocationsListWindowEnvironment{
            context, *widget, *widget, main_.queue, [this] { return main_.controller.get(); },
            [this] { return main_.pane; }, true});
        controller->updateTableData(main_.hub->appModel().locationsListModel());
    }
    ~LocationsWindowTestbed() {
        controller.reset();
        widget.reset();
        LocationsListWindowViewController::windowOpenedFlag = false;
    }

    void open() { controller->showWindow(); }
    int rowOf(const std::string& name) const {
        auto& table = controller->tableViewModel();
        for (int row = 0; row < table.rowCount(); ++row) {
            if (auto item = table.itemAtRow(row); item && item->name == name) return row;
        }
        return -1;
    }

    std::unique_ptr<LocationsListWindowWidget> widget;
    std::shared_ptr<LocationsListWindowViewController> controller;

private:
    MainWindowTestbed& main_;
};

}  // namespace hw::test
