#include "platform/helper_message.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/helper_socket.h"

namespace hw {
namespace {

std::vector<UniqueFd> dupAll(const std::vector<int>& fds) {
    std::vector<UniqueFd> out;
    for (int f : fds) out.emplace_back(::fcntl(f, F_DUPFD_CLOEXEC, 0));
    return out;
}

std::optional<HelperEnvelope> roundTrip(const HelperMessage& m, int replyFd = -1) {
    std::string error;
    auto frame = encodeHelperMessage(m, replyFd, &error);
    EXPECT_TRUE(frame) << error;
    if (!frame) return std::nullopt;
    auto env = decodeHelperMessage(frame->bytes, dupAll(frame->fds), &error);
    EXPECT_TRUE(env) << error;
    return env;
}

ino_t inodeOf(int fd) {
    struct stat st{};
    ::fstat(fd, &st);
    return st.st_ino;
}

TEST(HelperMessageCodec, RoundTripsEveryTypeNested) {
    HelperMessage inner{{"n", HelperValue(std::int64_t{-1})}, {"empty", HelperValue("")}};
    HelperMessage m{
        {"type", "helper_tool_rpc"},
        {"min", HelperValue(std::numeric_limits<std::int64_t>::min())},
        {"max", HelperValue(std::numeric_limits<std::int64_t>::max())},
        {"yes", true},
        {"no", false},
        {"data", HelperValue(HelperData{0, 1, 0xff, 0})},
        {"list", HelperValue(HelperArray{HelperValue("a"), HelperValue(2), HelperValue(inner)})},
        {"parameters", HelperValue(inner)},
        {"utf8", "Zürich ✓ 🌍"},
    };
    auto env = roundTrip(m);
    ASSERT_TRUE(env);
    EXPECT_EQ(env->message, m);
    EXPECT_FALSE(env->replyChannel);
}

TEST(HelperMessageCodec, ChannelsAndReplyChannelCarryTheSameSockets) {
    auto [a, b] = makeHelperSocketPair();
    auto [r1, r2] = makeHelperSocketPair();
    auto channel = std::make_shared<UniqueFd>(std::move(b));
    HelperMessage m{{"channel", HelperValue(channel)}, {"again", HelperValue(HelperArray{HelperValue(channel)})}};
    auto env = roundTrip(m, r2.get());
    ASSERT_TRUE(env);
    ASSERT_TRUE(env->replyChannel);
    EXPECT_EQ(inodeOf(env->replyChannel.get()), inodeOf(r2.get()));
    auto got = helperChannel(env->message, "channel");
    ASSERT_TRUE(got);
    EXPECT_EQ(inodeOf(got->get()), inodeOf(channel->get()));
    // The same channel twice in one message travels as two descriptors.
    auto second = (*env->message.at("again").array())[0].channel();
    ASSERT_TRUE(second);
    EXPECT_NE(second->get(), got->get());
}

TEST(HelperMessageCodec, EncoderRefusesWhatTheDecoderWouldReject) {
    std::string error;
    EXPECT_FALSE(encodeHelperMessage({{"k", std::string("a\0b", 3)}}, -1, &error));
    EXPECT_FALSE(encodeHelperMessage({{"k", "\xff\xfe"}}, -1, &error));
    EXPECT_FALSE(encodeHelperMessage({{std::string("k\0", 2), "v"}}, -1, &error));
    EXPECT_FALSE(encodeHelperMessage({{"big", HelperValue(HelperData(kHelperMessageMaxBytes, 0))}}, -1, &error));
    EXPECT_EQ(error, "message too large");
    EXPECT_FALSE(encodeHelperMessage({{"closed", HelperValue(std::make_shared<UniqueFd>())}}, -1, &error));

    HelperValue deep = HelperValue("leaf");
    for (int i = 0; i < kHelperMessageMaxDepth + 1; ++i) deep = HelperValue(HelperArray{deep});
    EXPECT_FALSE(encodeHelperMessage({{"deep", deep}}, -1, &error));
    EXPECT_EQ(error, "nested too deeply");
    // Data may hold any byte, NUL included.
    EXPECT_TRUE(encodeHelperMessage({{"d", HelperValue(HelperData{0, 0})}}, -1, &error));
}

TEST(HelperMessageCodec, EveryTruncationIsRejected) {
    HelperMessage m{{"rpc", "enableNetworkLock"}, {"p", HelperValue(HelperMessage{{"x", 7}, {"y", true}})}};
    auto frame = encodeHelperMessage(m, -1, nullptr);
    ASSERT_TRUE(frame);
    for (std::size_t n = 0; n < frame->bytes.size(); ++n)
        EXPECT_FALSE(decodeHelperMessage(std::string_view(frame->bytes).substr(0, n), {}, nullptr)) << n;
    std::string error;
    EXPECT_FALSE(decodeHelperMessage(frame->bytes + "x", {}, &error));
    EXPECT_EQ(error, "trailing bytes");
}

// Builds raw frames, as a hostile peer would.
std::string header(char flags = 0) { return std::string("HW\x01", 3) + flags; }
std::string u32(std::uint32_t n) {
    std::string s;
    for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>((n >> (8 * k)) & 0xff));
    return s;
}
std::string str(const std::string& s) { return u32(static_cast<std::uint32_t>(s.size())) + s; }

TEST(HelperMessageCodec, DecoderRejectsHostileFrames) {
    auto reject = [](const std::string& bytes, const std::string& why, std::vector<UniqueFd> fds = {}) {
        std::string error;
        EXPECT_FALSE(decodeHelperMessage(bytes, std::move(fds), &error)) << why;
        EXPECT_EQ(error, why);
    };
    reject("XW\x01" + std::string(1, '\0') + "D" + u32(0), "bad magic");
    reject(std::string("HW\x02\0", 4) + "D" + u32(0), "unsupported version");
    reject(header('\x02') + "D" + u32(0), "unknown flags");
    reject(header() + "s" + str("x"), "dictionary expected");
    reject(header() + "D" + u32(2) + str("k") + "T" + str("k") + "F", "duplicate key");
    reject(header() + "D" + u32(0xffffffff), "count exceeds message");
    reject(header() + "D" + u32(1) + str("k") + "a" + u32(0xfffffff0), "count exceeds message");
    reject(header() + "D" + u32(1) + str("k") + "s" + u32(0x7fffffff) + "abc", "length exceeds message");
    reject(header() + "D" + u32(1) + str("k") + "s" + str(std::string("a\0", 2)),
           "string is not valid UTF-8 or holds NUL");
    reject(header() + "D" + u32(1) + str("k") + "s" + str("\xc0\xaf"), "string is not valid UTF-8 or holds NUL");
    reject(header() + "D" + u32(1) + str("k") + "?", "unknown tag");
    reject(header() + "D" + u32(1) + str("k") + "c" + u32(0), "channel index out of range");
    reject(header('\x01') + u32(0) + "D" + u32(0), "channel index out of range");

    std::string deep = header() + "D" + u32(1) + str("k");
    for (int i = 0; i < 100; ++i) {
        deep.push_back('a');
        deep += u32(1);
    }
    deep += "T";
    reject(deep, "nested too deeply");

    auto [a, b] = makeHelperSocketPair();
    std::vector<UniqueFd> two;
    two.push_back(std::move(a));
    two.push_back(std::move(b));
    reject(header() + "D" + u32(1) + str("k") + "c" + u32(0), "unreferenced channel", std::move(two));
    std::vector<UniqueFd> one;
    one.push_back(makeHelperSocketPair().first);
    reject(header() + "D" + u32(2) + str("a") + "c" + u32(0) + str("b") + "c" + u32(0), "channel used twice",
           std::move(one));
}

}  // namespace
}  // namespace hw
