#include <gtest/gtest.h>

#include <vector>

#include "support/fake_settings_store.h"
#include "view/user_defaults_controller.h"

namespace hw::test {
namespace {

class UserDefaultsControllerTest : public ::testing::Test {
protected:
    UserDefaultsControllerTest() {
        store.registerDefaults({{"autoLogin", true}, {"protocol", 0}});
        controller.setAppliesImmediately(false);
        controller.observe([this](const std::string& key) { heard.push_back(key); });
    }
    FakeSettingsStore store;
    UserDefaultsController controller{store};
    std::vector<std::string> heard;
};

TEST_F(UserDefaultsControllerTest, EditsWaitUntilSaved) {
    controller.setValue("autoLogin", false);
    controller.setValue("protocol", 5);
    EXPECT_FALSE(controller.boolValue("autoLogin"));
    EXPECT_EQ(controller.integerValue("protocol"), 5);
    EXPECT_TRUE(store.boolForKey("autoLogin"));
    EXPECT_TRUE(controller.hasUnappliedChanges());
    EXPECT_EQ(store.syncCount, 0);

    controller.save();
    EXPECT_FALSE(store.boolForKey("autoLogin"));
    EXPECT_EQ(store.integerForKey("protocol"), 5);
    EXPECT_FALSE(controller.hasUnappliedChanges());
    EXPECT_EQ(store.syncCount, 1);
    controller.save();
    EXPECT_EQ(store.syncCount, 1);
}

TEST_F(UserDefaultsControllerTest, RevertDropsEditsAndTellsTheControls) {
    controller.setValue("protocol", 3);
    heard.clear();
    controller.revert();
    EXPECT_EQ(controller.integerValue("protocol"), 0);
    EXPECT_EQ(store.stored().count("protocol"), 0u);
    EXPECT_EQ(heard, std::vector<std::string>{"protocol"});
}

TEST_F(UserDefaultsControllerTest, ApplyingImmediatelyWritesAtOnceAndKeepsOtherEdits) {
    controller.setValue("protocol", 2);
    controller.setAppliesImmediately(true);
    controller.setValue("autoLogin", false);
    EXPECT_FALSE(store.boolForKey("autoLogin"));
    EXPECT_EQ(store.syncCount, 1);
    // The earlier edit still waits for Apply or Cancel.
    EXPECT_EQ(store.integerForKey("protocol"), 0);
    EXPECT_TRUE(controller.hasUnappliedChanges());
    // An immediate write of a key that had an edit waiting replaces the edit.
    controller.setValue("protocol", 4);
    EXPECT_FALSE(controller.hasUnappliedChanges());
    controller.revert();
    EXPECT_EQ(controller.integerValue("protocol"), 4);
}

TEST_F(UserDefaultsControllerTest, AnObserverMayStopWhileBeingTold) {
    int token = 0;
    int calls = 0;
    token = controller.observe([&](const std::string&) {
        ++calls;
        controller.stopObserving(token);
    });
    controller.setValue("protocol", 1);
    controller.setValue("protocol", 2);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace hw::test
