#pragma once
// The testbed's env file, written by `scripts/testbed up` (into the checkout's build/)
// once the backend answers.
// Integration tests skip when it is missing.
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>

namespace hw::test {

class TestbedEnv {
public:
    // The checkout's copy in build/, unless redirected.
    static std::string path() {
        if (const char* p = std::getenv("HAVENWAY_TESTBED_ENV"); p && *p) return p;
        if (const char* d = std::getenv("HAVENWAY_TESTBED_DIR"); d && *d) return std::string(d).append("/testbed.env");
        if (const char* s = std::getenv("HW_SOURCE_DIR"); s && *s) return std::string(s).append("/build/testbed.env");
#ifdef HW_SOURCE_DIR
        return std::string(HW_SOURCE_DIR).append("/build/testbed.env");
#else
        return "build/testbed.env";
#endif
    }

    // The values, or nothing when the testbed is not up.
    static std::optional<TestbedEnv> load() {
        std::ifstream in(path());
        if (!in) return std::nullopt;
        TestbedEnv env;
        std::string line;
        while (std::getline(in, line)) {
            const auto eq = line.find('=');
            if (eq == std::string::npos || line.empty() || line[0] == '#') continue;
            env.values_[line.substr(0, eq)] = line.substr(eq + 1);
        }
        if (env.get("HAVENWAY_BACKEND_HOST").empty()) return std::nullopt;
        return env;
    }

    std::string get(const std::string& key) const {
        auto it = values_.find(key);
        return it == values_.end() ? std::string() : it->second;
    }
    // Exports HAVENWAY_TEST_CA and the hosts, as scripts/run does for the application.
    void exportToEnvironment() const {
        for (const auto& key : {"HAVENWAY_TEST_CA", "HAVENWAY_BACKEND_HOST", "HAVENWAY_WEB_HOST"}) {
            ::setenv(key, get(key).c_str(), 1);
        }
    }
    std::string backendUrl() const { return "https://" + get("HAVENWAY_BACKEND_HOST"); }
    std::string parseUrl() const { return backendUrl() + "/parse"; }
    std::string webUrl() const { return "https://" + get("HAVENWAY_WEB_HOST"); }

private:
    std::map<std::string, std::string> values_;
};

}  // namespace hw::test

// In a test body: loads the env or skips the test with the reason.
#define HW_REQUIRE_TESTBED(var)                                                                   \
    auto var##_opt = ::hw::test::TestbedEnv::load();                                              \
    if (!var##_opt) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << ::hw::test::TestbedEnv::path(); \
    const auto& var = *var##_opt
