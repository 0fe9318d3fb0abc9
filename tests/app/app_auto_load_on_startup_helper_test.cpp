// Start at login on real XDG autostart files in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>

#include "app/app_auto_load_on_startup_helper.h"
#include "platform/xdg_login_items.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

class StartAtLogin : public ::testing::Test {
protected:
    void entry(const std::string& name, const std::string& text) {
        std::ofstream(folder + "/" + name) << text;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(folder)) out.push_back(e.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }
    test::TempDir dir;
    std::string folder = dir.path() + "/autostart";
    XdgLoginItems items{folder};
    std::string app = "/opt/Havenway App/havenway";
    AppAutoLoadOnStartupHelper helper{items, app};
};

TEST_F(StartAtLogin, TogglingTwiceLeavesTheListAsItWas) {
    helper.toggleLaunchAtStartup();
    EXPECT_TRUE(helper.isLaunchAtStartup()) << "the missing folder is made";
    helper.toggleLaunchAtStartup();
    entry("other.desktop", "[Desktop Entry]\nExec=/usr/bin/other --flag\n");
    EXPECT_FALSE(helper.isLaunchAtStartup());
    helper.toggleLaunchAtStartup();
    const std::string text = test::TempDir::read(folder + "/havenway.desktop");
    EXPECT_NE(text.find("Exec=\"/opt/Havenway App/havenway\" --hidden\n"), std::string::npos) << text;
    EXPECT_EQ(test::TempDir::mode(folder + "/havenway.desktop"), 0644u);
    helper.toggleLaunchAtStartup();
    EXPECT_FALSE(helper.isLaunchAtStartup());
    EXPECT_EQ(names(), std::vector<std::string>{"other.desktop"});
}

TEST_F(StartAtLogin, LookingUpTidiesDuplicatesAndCopiesButKeepsWhatItCannotRead) {
    std::filesystem::create_directories(folder);
    entry("a-havenway.desktop", "[Desktop Entry]\nExec=\"/opt/Havenway App/havenway\" --hidden\n");
    entry("b-havenway.desktop", "[Desktop Entry]\nExec=\"/opt/Havenway App/havenway\"\n");
    entry("copy.desktop", "[Desktop Entry]\nExec=/home/u/old/havenway --hidden\n");
    entry("noexec.desktop", "[Desktop Entry]\nName=x\n[Other]\nExec=/opt/Havenway App/havenway\n");
    entry("unreadable.desktop", "[Desktop Entry]\nExec=\"/opt/unterminated\n");
    EXPECT_EQ(helper.itemRefInLoginItems(), std::optional<std::string>("a-havenway.desktop"));
    EXPECT_EQ(names(), (std::vector<std::string>{"a-havenway.desktop", "noexec.desktop", "unreadable.desktop"}));
    helper.toggleLaunchAtStartup();
    EXPECT_EQ(names(), (std::vector<std::string>{"noexec.desktop", "unreadable.desktop"}));
}

TEST(XdgExec, QuotesWhatTheDesktopWouldSplitAndRefusesWhatNoLineCanCarry) {
    struct Row {
        std::string path;
        std::optional<std::string> word;
    };
    for (const Row& r : {Row{"/usr/bin/havenway", "/usr/bin/havenway"}, Row{"/opt/a b/havenway", "\"/opt/a b/havenway\""},
                         Row{"/opt/$x\"y/h", "\"/opt/\\$x\\\"y/h\""}, Row{"/opt/100%/h", "/opt/100%%/h"},
                         Row{"relative/h", std::nullopt}, Row{"/opt/a\nExec=/bin/evil", std::nullopt}}) {
        const auto word = XdgLoginItems::execWord(r.path);
        EXPECT_EQ(word, r.word) << r.path;
        if (word) {
            EXPECT_EQ(XdgLoginItems::programOf("[Desktop Entry]\nExec=" + *word + " --hidden\n"), r.path);
        }
    }
}

}  // namespace
}  // namespace hw
