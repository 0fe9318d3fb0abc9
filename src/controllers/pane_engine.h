#pragma once
#include <optional>

#include "core/vpn_types.h"

namespace hw {

class VPNConnectionManager;

// The connection manager as the windows use it. Main thread only.
class PaneEngine {
public:
    virtual ~PaneEngine() = default;
    // Nothing without a current provider.
    virtual std::optional<VPNTypes> currentProviderType() const = 0;
    virtual bool connectionInitiateCanceled() const = 0;
    virtual void setConnectionInitiateCanceled(bool value) = 0;
    virtual void installDNSForVPN() = 0;
};

// The real manager behind the windows.
class VPNConnectionManagerPaneEngine final : public PaneEngine {
public:
    explicit VPNConnectionManagerPaneEngine(VPNConnectionManager& manager) : manager_(manager) {}
    std::optional<VPNTypes> currentProviderType() const override;
    bool connectionInitiateCanceled() const override;
    void setConnectionInitiateCanceled(bool value) override;
    void installDNSForVPN() override;

private:
    VPNConnectionManager& manager_;
};

}  // namespace hw
