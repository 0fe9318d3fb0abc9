#pragma once
// Signs an account in on the real hub and loads its required data, spinning
// the Qt event loop meanwhile.
#include <optional>
#include <string>

#include "hub/service_layer.h"
#include "services/auth_service.h"
#include "support/qt_test_app.h"

namespace hw::test {

// Empty on success, else what failed.
inline std::string signIn(ServiceLayer& hub, const std::string& user, const std::string& password) {
    std::optional<AuthResults> result;
    hub.authService()->login(user, password, [&](AuthResults r, std::optional<std::string>) { result = r; });
    if (!spinUntil([&] { return result.has_value(); }, 30000)) return "sign-in never answered";
    if (result != AuthResults::success) return "sign-in refused";
    return {};
}

// Then the required data, as the application loads it after a sign-in.
inline std::string signInAndLoad(ServiceLayer& hub, const std::string& user, const std::string& password) {
    if (auto why = signIn(hub, user, password); !why.empty()) return why;
    bool loaded = false;
    std::optional<std::string> failure;
    hub.loadRequiredData([&] { loaded = true; }, [&](const std::string& e) { failure = e; });
    if (!spinUntil([&] { return loaded || failure; }, 30000)) return "required data never arrived";
    if (failure) return "required data failed: " + *failure;
    return {};
}

}  // namespace hw::test
