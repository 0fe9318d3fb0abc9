// Every address the testbed hands the application to open (the remote
// configuration, the notice, the information tile) and the ones it builds on
// the service's domain, fetched from the client namespace where the
// application runs: each one lands, none goes to a name nothing serves.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "core/global_constants.h"
#include "support/netns_rig.h"
#include "support/temp_dir.h"
#include "testbed/testbed_env.h"

namespace hw::test {
namespace {

struct Reply {
    int status = 0;
    std::string body;
};

class TestbedLinks : public ::testing::Test {
protected:
    void SetUp() override {
        auto loaded = TestbedEnv::load();
        if (!loaded) GTEST_SKIP() << "testbed not up (run scripts/testbed up)";
        env = *loaded;
        ns = env.get("HAVENWAY_TESTBED_CLIENT_NETNS");
        if (ns.empty()) GTEST_SKIP() << "the testbed runs no VPN servers (it needs root)";
    }

    // One request from the client namespace (else from this machine, where the
    // master key is accepted), trusting only the testbed's CA.
    Reply fetch(const std::string& url, const std::vector<std::string>& extra = {}, bool inNamespace = true) {
        std::vector<std::string> argv{"curl", "-sS", "--max-time", "15", "--cacert", env.get("HAVENWAY_TEST_CA"),
                                      "-o",   dir.file("body"),        "-w", "%{http_code}"};
        if (inNamespace) argv.insert(argv.begin(), {"ip", "netns", "exec", ns});
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(url);
        ::unlink(dir.file("body").c_str());
        ::unlink(dir.file("status").c_str());
        runQuiet(argv, dir.file("status"));
        Reply reply;
        reply.status = std::atoi(readText(dir.file("status")).c_str());
        reply.body = readText(dir.file("body"));
        return reply;
    }
    std::vector<std::string> parseHeaders(bool master) const {
        std::vector<std::string> h{"-H", "X-Parse-Application-Id: " + env.get("HAVENWAY_TESTBED_APP_ID")};
        if (master) h.insert(h.end(), {"-H", "X-Parse-Master-Key: " + env.get("HAVENWAY_TESTBED_MASTER_KEY")});
        else h.insert(h.end(), {"-H", "X-Parse-Client-Key: " + env.get("HAVENWAY_TESTBED_CLIENT_KEY")});
        return h;
    }
    std::string parse(const std::string& path) { return "https://" + env.get("HAVENWAY_BACKEND_HOST") + "/parse" + path; }
    std::string localParse(const std::string& path) {
        const std::string host = env.get("HAVENWAY_BACKEND_HOST");
        return "https://127.0.0.1" + host.substr(host.rfind(':')) + "/parse" + path;
    }

    TestbedEnv env;
    std::string ns;
    TempDir dir;
};

// Each "key":"https://..." of a reply, by key (a key may name several).
std::multimap<std::string, std::string> httpsValues(const std::string& text) {
    std::multimap<std::string, std::string> found;
    static const std::regex pair(R"re("(\w+)"\s*:\s*"(https://[^"\\]+)")re");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pair); it != std::sregex_iterator(); ++it)
        found.emplace((*it)[1], (*it)[2]);
    return found;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST_F(TestbedLinks, EveryLinkOfTheConfigurationAnswersFromTheClientNamespace) {
    const Reply config = fetch(localParse("/config"), parseHeaders(true), false);
    ASSERT_EQ(config.status, 200) << config.body;
    const Reply notices = fetch(localParse("/classes/NotificationData"), parseHeaders(true), false);
    ASSERT_EQ(notices.status, 200) << notices.body;
    const Reply login = fetch(parse("/login?username=" + env.get("HAVENWAY_TESTBED_DEMO_USER") +
                                    "&password=" + env.get("HAVENWAY_TESTBED_DEMO_PASSWORD")),
                              parseHeaders(false));
    std::smatch token;
    ASSERT_TRUE(std::regex_search(login.body, token, std::regex(R"re("sessionToken"\s*:\s*"([^"]+)")re"))) << login.body;
    const Reply tile = fetch("https://" + env.get("HAVENWAY_WEB_HOST") + "/api/smart-widget",
                             {"-H", "X-Parse-Application-Id: " + env.get("HAVENWAY_TESTBED_APP_ID"), "-H",
                              "X-Parse-Session-Token: " + token[1].str()});
    ASSERT_EQ(tile.status, 200) << tile.body;

    std::smatch domain;
    ASSERT_TRUE(std::regex_search(config.body, domain, std::regex(R"re("mainDomainName"\s*:\s*"([^"]+)")re")));
    const std::string site = "https://" + domain[1].str() + "/";
    // What the application posts to rather than opens.
    const std::set<std::string> called{"authorizeForFreeTrialLink", "authorizeForFreeTrialLink_v2",
                                       "analyticsTrackerURL", "smartWidgetURL"};
    std::vector<std::pair<std::string, std::string>> links;  // where it came from, the address
    for (const auto* reply : {&config, &notices, &tile})
        for (const auto& [key, url] : httpsValues(reply->body))
            if (!called.count(key))
                links.emplace_back(key, replaced(replaced(url, "{$domainname}", domain[1]), "{$token}", "token=x"));
    // Built by the application itself on the service's domain.
    links.emplace_back("password reset", site + GlobalConstants::passwordResetPath);
    links.emplace_back("sign-up page", site + GlobalConstants::signUpPath);
    for (const char* key : {"toplink", "bottomlink", "link", "myAccountLink", "knowledgebaseLink"})
        EXPECT_TRUE(std::any_of(links.begin(), links.end(), [&](const auto& l) { return l.first == key; })) << key;

    for (const auto& [key, url] : links) EXPECT_EQ(fetch(url).status, 200) << key << ": " << url;
}

}  // namespace
}  // namespace hw::test
