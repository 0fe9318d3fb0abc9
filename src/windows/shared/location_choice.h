#pragma once
#include "services/analytics_event.h"
#include "view/base_controller_context.h"
#include "windows/shared/locations_table_view_model.h"

namespace hw {

// What both locations tables do with a row their gate accepted: the analytics
// event when the location changes, then the choice itself, then the repaint.
template <class Window>
void applyLocationChoice(Window& window, LocationsTableViewModel& table, int row) {
    auto choice = table.shouldSelectRow(row);
    if (!choice) return;
    if (choice->changesLocation) {
        window.sendAnalyticsEvent(AnalyticsEvent::VPN_LOCATION_CHANGE_EVENT,
                                  AnalyticsParameters{{AnalyticsEvent::VPN_LOCATION_CHANGE_EVENT_PARAMETER_NAME,
                                                       choice->analyticsValue}});
    }
    if (choice->automatic) {
        window.handleAutomaticHeaderTapProcessing(true);
    } else {
        window.selectLocationProcessing(choice->item, false, false);
    }
    table.selectionChanged();
}

}  // namespace hw
