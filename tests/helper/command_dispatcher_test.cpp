#include "helper/command_dispatcher.h"

#include <gtest/gtest.h>

#include "fake_system.h"
#include "support/capture_log.h"

namespace hw::helper {
namespace {

TEST(CommandDispatcher, UnknownMalformedAndFailingCommandsAnswerNo) {
    auto log = hw::test::CaptureLog::install();
    CommandDispatcher d;
    d.registerCommand("boom", [](HelperCommand&) -> std::optional<HelperMessage> { throw std::runtime_error("x"); });
    // The tunnel commands belong to other services; until they register, "NO".
    EXPECT_EQ(test::rpc(d, "connectToVPN"), "NO");
    EXPECT_EQ(test::rpc(d, "createOpenVPNConnection"), "NO");
    EXPECT_EQ(test::rpc(d, "boom"), "NO");
    auto noType = test::call(d, {{"rpc", "x"}});
    ASSERT_TRUE(noType);
    EXPECT_EQ(*helperString(*noType, "reply"), "NO");
    EXPECT_GE(log->countAtLeast(LogLevel::Warning), 1u);
}

TEST(CommandDispatcher, CommandsAreKeyedByTypeAndName) {
    CommandDispatcher d;
    d.registerCommand("rpc", "start_connection", [](HelperCommand& c) -> std::optional<HelperMessage> {
        return HelperMessage{{"reply", "started " + c.type}};
    });
    d.registerCommand("withParams", [](HelperCommand& c) -> std::optional<HelperMessage> {
        return replyWith(*helperString(c.parameters, "a"));
    });
    auto r = test::call(d, {{"type", "rpc"}, {"rpc", "start_connection"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(*helperString(*r, "reply"), "started rpc");
    EXPECT_EQ(test::rpc(d, "start_connection"), "NO");  // not a helper_tool_rpc command
    EXPECT_EQ(test::rpc(d, "withParams", {{"a", "b"}}), "b");
}

}  // namespace
}  // namespace hw::helper
