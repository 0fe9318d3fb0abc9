#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "core/global_constants.h"
#include "support/capture_log.h"
#include "support/scoped_env.h"

namespace hw {
namespace {

using test::ScopedEnv;

TEST(GlobalConstants, HostsDefaultToTheBuildAndFollowTheEnvironment) {
    {
        ScopedEnv backend("HAVENWAY_BACKEND_HOST", nullptr);
        ScopedEnv web("HAVENWAY_WEB_HOST", nullptr);
        EXPECT_EQ(GlobalConstants::parseServerURL(), std::string("https://").append(HW_DEFAULT_BACKEND_HOST).append("/parse"));
        EXPECT_EQ(GlobalConstants::termsOfServiceURL(), std::string("https://").append(HW_DEFAULT_WEB_HOST).append("/legal/terms"));
    }
    ScopedEnv backend("HAVENWAY_BACKEND_HOST", "http://127.0.0.1:4000/");
    ScopedEnv web("HAVENWAY_WEB_HOST", "web.test:8443");
    ScopedEnv identity("HAVENWAY_IDENTITY_HOST", "id.test");
    ScopedEnv support("HAVENWAY_SUPPORT_EMAIL", "help@example.org");
    EXPECT_EQ(GlobalConstants::parseServerURL(), "http://127.0.0.1:4000/parse");
    EXPECT_EQ(GlobalConstants::analyticsTrackerURL(), "https://web.test:8443/api/app-analytics.php");
    EXPECT_EQ(GlobalConstants::oauthTokenURL(), "https://id.test/oauth/token");
    EXPECT_EQ(GlobalConstants::supportEmail(), "help@example.org");
}

TEST(GlobalConstants, DnsResolversStartSwappedAndAreAssignableAcrossThreads) {
    EXPECT_EQ(GlobalConstants::dnsResolver(), "8.8.4.4");
    EXPECT_EQ(GlobalConstants::dnsResolverSecondary(), "8.8.8.8");
    std::thread writer([] {
        for (int i = 0; i < 200; ++i) GlobalConstants::setDnsResolver(i % 2 ? "1.1.1.1" : "9.9.9.9");
    });
    for (int i = 0; i < 200; ++i) {
        const std::string v = GlobalConstants::dnsResolver();
        EXPECT_TRUE(v == "8.8.4.4" || v == "1.1.1.1" || v == "9.9.9.9") << v;
    }
    writer.join();

    auto log = test::CaptureLog::install();
    EXPECT_TRUE(GlobalConstants::setDnsResolverSecondary("2001:4860:4860::8888"));
    for (const char* bad : {"", "8.8.8", "8.8.8.8; rm -rf /", " 8.8.8.8", "dns.google", "8.8.8.8\n"}) {
        EXPECT_FALSE(GlobalConstants::setDnsResolver(bad)) << bad;
    }
    EXPECT_NE(GlobalConstants::dnsResolver(), "");
    EXPECT_EQ(GlobalConstants::dnsResolverSecondary(), "2001:4860:4860::8888");
    GlobalConstants::setDnsResolver("8.8.4.4");
    GlobalConstants::setDnsResolverSecondary("8.8.8.8");
    log::setSink(nullptr);
}

TEST(GlobalConstants, ErrorLogIsInTheDataFolderBeforeAnyAssignment) {
    auto log = test::CaptureLog::install();
    ScopedEnv redirect("HAVENWAY_DATA_DIR", "/");  // the root is never the data folder
    ScopedEnv data("XDG_DATA_HOME", "/srv/data");
    GlobalConstants::setLogsDirectoryPath("");
    EXPECT_EQ(GlobalConstants::logsDirectoryPath(), "/srv/data/havenway");
    EXPECT_EQ(GlobalConstants::errorLogFilePath(), "/srv/data/havenway/error.log");
    {
        ScopedEnv relative("XDG_DATA_HOME", "relative/data");
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(GlobalConstants::errorLogFilePath(), "/home/someone/.local/share/havenway/error.log");
        ScopedEnv direct("HAVENWAY_DATA_DIR", "/tmp/hw-data/");
        EXPECT_EQ(GlobalConstants::errorLogFilePath(), "/tmp/hw-data/error.log");
    }

    GlobalConstants::setLogsDirectoryPath("/var/lib/x/");
    EXPECT_EQ(GlobalConstants::errorLogFilePath(), "/var/lib/x/error.log");
    for (const char* unusable : {"/", "logs", "///"}) {
        GlobalConstants::setLogsDirectoryPath(unusable);
        EXPECT_EQ(GlobalConstants::errorLogFilePath(), "/srv/data/havenway/error.log") << unusable;
    }
    GlobalConstants::setLogsDirectoryPath("");
    log::setSink(nullptr);
}

}  // namespace
}  // namespace hw
