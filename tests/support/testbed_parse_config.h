#pragma once
// The backend client's settings for the testbed's Parse Server.
#include <string>

#include "platform/backend/parse_core.h"
#include "testbed/testbed_env.h"

namespace hw::test {

inline ParseClientConfig testbedParseConfig(const TestbedEnv& env, std::string secretService,
                                            std::string datastorePath = {}) {
    ParseClientConfig c;
    c.applicationId = env.get("HAVENWAY_TESTBED_APP_ID");
    c.clientKey = env.get("HAVENWAY_TESTBED_CLIENT_KEY");
    c.serverURL = env.parseUrl();
    c.secretService = std::move(secretService);
    c.datastorePath = std::move(datastorePath);
    c.requestTimeoutMs = 15000;
    return c;
}

}  // namespace hw::test
