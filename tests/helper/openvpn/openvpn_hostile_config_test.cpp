#include <gtest/gtest.h>
#include <unistd.h>

#include "helper/openvpn/openvpn_config_filter.h"
#include "platform/posix_process_runner.h"
#include "support/temp_dir.h"

namespace hw::helper {
namespace {

constexpr const char* kOpenVPN = "/usr/sbin/openvpn";

// What a real openvpn did with a file: whether it loaded the plugin the file
// names, and whether it got as far as loading the one we add after the file.
struct Loaded {
    bool hostile = false;
    bool control = false;
};

Loaded runOpenVPN(const std::string& config) {
    test::TempDir dir;
    test::TempDir::write(dir.file("config"), config);
    ProcessRequest request;
    request.argv = {kOpenVPN, "--config", dir.file("config"), "--plugin", HW_LOAD_MARK_CONTROL};
    request.environment["HW_LOAD_MARKS"] = dir.path();
    // Either plugin fails openvpn's own checks, so it ends once it loads one.
    request.timeout = std::chrono::seconds(10);
    auto result = PosixProcessRunner().run(request);
    EXPECT_FALSE(result.timedOut) << result.out;
    return {::access(dir.file("hostile").c_str(), F_OK) == 0, ::access(dir.file("control").c_str(), F_OK) == 0};
}

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// Each file is refused, or what the filter makes of it is read to the end by
// root's openvpn without loading anything it names. Where the file itself
// loads the plugin into openvpn, that is shown too, so the row is a real
// attack and the marks are seen.
TEST(OpenVPNHostileConfig, RefusedOrLoadingNothingIntoARealOpenVPN) {
    ASSERT_EQ(::access(kOpenVPN, X_OK), 0) << "openvpn is one of the project's packages";
    const std::string head = "client\nremote 127.0.0.1 9\n";
    // openvpn's own limit, not ours: 255 bytes with the newline.
    const std::size_t limit = 254;
    const std::string max(limit, 'A');
    const std::string past = max + "A";
    const std::string hostname = "remote " + std::string(limit - 7, 'h');
    const std::string words = "route 10.0.0.0 255.0.0.0" + replaced(std::string(14, '.'), ".", " 1");
    const std::string key = "-----BEGIN OpenVPN Static key V1-----\n0123abcd\n-----END OpenVPN Static key V1-----\n";
    struct Row {
        std::string name, text, refusal;  // no refusal: accepted
        bool fileLoadsPlugin = false;
    };
    const std::string tooLong = ": longer than 254 bytes, which openvpn would cut";
    for (const Row& row : std::vector<Row>{
             // Whole lines read, this passed: openvpn's blocks end where the filter's do not.
             {"a long line ends <ca> early for openvpn",
              head + "<ca>\n" + past + "</ca>\nplugin @P\n\"<cert>\"\n</ca>\nverify-x509-name " + std::string(238, 'x') +
                  "</cert>\n",
              "line 4" + tooLong, true},
             {"a long line ends <connection> early for openvpn",
              head + "<connection>\nremote 127.0.0.1 9" + std::string(237, ' ') + "</connection>\nplugin @P\n",
              "line 4" + tooLong, true},
             {"<ca> line at the limit", head + "<ca>\n" + max + "\n</ca>\n", ""},
             {"<ca> line one past it", head + "<ca>\n" + past + "\n</ca>\n", "line 4" + tooLong},
             {"line at the limit", "client\n" + hostname + "\n", ""},
             {"line one past it", "client\n" + hostname + "h\n", "line 2" + tooLong},
             {"a CR counts in the length", "client\n" + hostname + "\r\n", "line 2" + tooLong},
             {"<connection> line at the limit", "client\n<connection>\n" + hostname + "\n</connection>\n", ""},
             {"<connection> line one past it", "client\n<connection>\n" + hostname + "h\n</connection>\n",
              "line 3" + tooLong},
             {"quoting that grows past the limit", head + "verify-x509-name '" + std::string(200, '"') + "'\n",
              "line 3: too long once quoted for openvpn"},
             {"a quote hiding a directive", head + "verify-x509-name 'a\" plugin @P \"'\n", ""},
             {"an escaped quote hiding a directive", head + "verify-x509-name \"a\\\" plugin @P\"\n", ""},
             {"a CR inside a line", head + "verify-x509-name a\rplugin @P\n", "line 3: a carriage return inside the line"},
             {"CR LF line ends", "client\r\nremote 127.0.0.1 9\r\n<ca>\r\nAAAA\r\n</ca>\r\n", ""},
             {"a NUL byte", head + "verify-x509-name a" + std::string(1, '\0') + "\nplugin @P\n", "line 3: a NUL byte"},
             {"a directive in a key block", head + "<ca>\nplugin @P\n</ca>\n",
              "line 4: <ca> holds something other than key material"},
             {"a static key's comments", head + "<tls-crypt>\n# plugin @P\n" + key + "</tls-crypt>\n", ""},
             {"a block inside <connection>", "client\n<connection>\nremote 127.0.0.1 9\n<ca>\nAAAA\n</ca>\n</connection>\n",
              "line 4: a block inside <connection>"},
             {"more words than openvpn keeps", head + words + " plugin @P\n", "line 3: more than 16 words"},
             {"a byte order mark", "\xEF\xBB\xBF" + head, ""},
         }) {
        SCOPED_TRACE(row.name);
        const std::string text = replaced(row.text, "@P", HW_LOAD_MARK_HOSTILE);
        if (row.fileLoadsPlugin) {
            EXPECT_TRUE(runOpenVPN(text).hostile);
        }
        auto checked = filterOpenVPNConfig(text);
        EXPECT_EQ(checked.refusal, row.refusal);
        if (!checked.config) continue;
        Loaded loaded = runOpenVPN(*checked.config);
        EXPECT_FALSE(loaded.hostile);
        EXPECT_TRUE(loaded.control) << *checked.config;
    }
}

}  // namespace
}  // namespace hw::helper
