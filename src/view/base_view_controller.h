#pragma once
#include <string>

#include "view/base_controller_context.h"

namespace hw {

// Base of the pane controllers. The first loadViewIfNeeded runs
// setupComponents, then customizeComponents; later calls do nothing.
class BaseViewController {
public:
    explicit BaseViewController(const BaseControllerContext& context) : context_(context) {}
    virtual ~BaseViewController() = default;
    BaseViewController(const BaseViewController&) = delete;
    BaseViewController& operator=(const BaseViewController&) = delete;

    void loadViewIfNeeded();
    bool isViewLoaded() const { return loaded_; }

    ApplicationModel& model() const { return context_.model; }

    // Asks the desktop to open the address; its answer is not needed.
    void openURL(const std::string& url) const { context_.urlOpener.openURL(url); }

protected:
    virtual void setupComponents() {}
    virtual void customizeComponents() {}

    const BaseControllerContext& context() const { return context_; }

private:
    BaseControllerContext context_;
    bool loaded_ = false;
};

}  // namespace hw
