#include <QVBoxLayout>

#include "app/main_window_port_adapter.h"
#include "hub/service_layer.h"
#include "windows/details_pane/main_view_details_area_controller.h"
#include "windows/details_pane/widgets/main_view_details_view.h"
#include "windows/main/widgets/main_window_widget.h"

namespace hw {

std::shared_ptr<DetailsPane> MainWindowPortAdapter::makeRealDetailsPane() {
    auto& hub = parts_.hub;
    auto* container = widget_->detailsContainer();
    auto* view = new MainViewDetailsView(*images_, container);
    auto* layout = new QVBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    auto& model = hub.appModel();
    view->mapImages = MainViewDetailsView::mapImagesOf(model);
    MainViewDetailsEnvironment env{BaseControllerContext{model, parts_.analytics, parts_.urlOpener}, *view,
                                   parts_.queue, *engine_, *parts_.shell()};
    env.links = hub.linksManager().get();
    env.probe = [&hub] { return hub.probeURLHelper(); };
    env.wifiInfo = [&hub] { return hub.wi_fi_InfoHelper(); };
    env.reachability = [&hub] { return hub.internetReachabilityHelper(); };
    env.refreshUserIPAddress = [&hub](std::function<void()> done) { hub.refreshUserIPAddress(std::move(done)); };
    env.mainWindow = widget_.get();
    return std::make_shared<MainViewDetailsAreaController>(std::move(env));
}

WindowView* MainWindowPortAdapter::windowView() { return widget_.get(); }

void MainWindowPortAdapter::autoUpdateSheetDidEnd() {
    if (!controller_) return;
    if (auto& pane = controller_->detailsViewController()) pane->autoUpdateSheetDidEnd();
}

}  // namespace hw
