#pragma once
// The connection manager as the windows see it, scripted by the test.
#include <optional>

#include "controllers/pane_engine.h"

namespace hw::test {

class RecordingPaneEngine : public PaneEngine {
public:
    std::optional<VPNTypes> providerType;
    bool canceled = false;
    int dnsInstalls = 0;

    std::optional<VPNTypes> currentProviderType() const override { return providerType; }
    bool connectionInitiateCanceled() const override { return canceled; }
    void setConnectionInitiateCanceled(bool value) override { canceled = value; }
    void installDNSForVPN() override { ++dnsInstalls; }
};

}  // namespace hw::test
