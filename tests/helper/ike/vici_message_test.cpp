#include "helper/ike/vici_message.h"

#include <gtest/gtest.h>

namespace hw::ike {
namespace {

std::string payloadOf(const ViciPacket& p) {
    auto frame = encodeViciPacket(p);
    EXPECT_TRUE(frame.has_value());
    return frame ? frame->substr(4) : std::string();
}

TEST(ViciMessage, RoundTripKeepsOrderNestingListsAndDuplicates) {
    ViciPacket p;
    p.type = ViciPacketType::CmdRequest;
    p.name = "load-conn";
    auto& conn = p.body.addSection("Havenway_IKEv2");
    conn.set("version", "2").setList("remote_addrs", {"10.0.0.1", "vpn.example"});
    conn.addSection("local").set("auth", "eap-mschapv2").set("auth", "dup");
    conn.setList("empty", {});
    conn.addSection("children").addSection("c").setList("remote_ts", {"0.0.0.0/0"});
    p.body.set("binary", std::string("a\0b\xff", 4));

    auto frame = encodeViciPacket(p);
    ASSERT_TRUE(frame);
    const auto len = (static_cast<unsigned char>((*frame)[2]) << 8) | static_cast<unsigned char>((*frame)[3]);
    EXPECT_EQ(static_cast<std::size_t>(len), frame->size() - 4);

    auto back = decodeViciPacket(frame->substr(4));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, "load-conn");
    const auto* c = back->body.section("Havenway_IKEv2");
    ASSERT_TRUE(c);
    EXPECT_EQ(*c->value("version"), "2");
    EXPECT_EQ(*c->list("remote_addrs"), (std::vector<std::string>{"10.0.0.1", "vpn.example"}));
    EXPECT_EQ(*c->section("local")->value("auth"), "eap-mschapv2");  // the first of repeated keys
    EXPECT_EQ(c->section("local")->entries().size(), 2u);
    EXPECT_TRUE(c->list("empty")->empty());
    EXPECT_EQ(c->section("children")->section("c")->list("remote_ts")->at(0), "0.0.0.0/0");
    EXPECT_EQ(*back->body.value("binary"), std::string("a\0b\xff", 4));
    EXPECT_EQ(*encodeViciPacket(*back), *frame);
}

TEST(ViciMessage, BodilessTypesAndFieldsThatDoNotFit) {
    for (auto type : {ViciPacketType::CmdUnknown, ViciPacketType::EventConfirm, ViciPacketType::EventUnknown}) {
        ViciPacket p;
        p.type = type;
        EXPECT_EQ(payloadOf(p).size(), 1u);
        EXPECT_TRUE(decodeViciPacket(payloadOf(p)));
    }
    ViciPacket reg;
    reg.type = ViciPacketType::EventRegister;
    reg.name = "ike-updown";
    EXPECT_EQ(payloadOf(reg), std::string("\x03\x0aike-updown"));

    struct Row {
        const char* name;
        ViciPacketType type;
        std::string packetName, key, value;
        int copies;
    };
    for (const Row& row : {Row{"a body on a bodiless type", ViciPacketType::EventConfirm, "", "a", "b", 1},
                           Row{"a name over 255 bytes", ViciPacketType::CmdRequest, std::string(256, 'n'), "k", "v", 1},
                           Row{"a value over 65535 bytes", ViciPacketType::CmdRequest, "x", "k", std::string(65536, 'v'), 1},
                           Row{"an empty key", ViciPacketType::CmdRequest, "x", "", "v", 1},
                           Row{"a packet over the limit", ViciPacketType::CmdRequest, "x", "k", std::string(60000, 'v'), 10}}) {
        ViciPacket p;
        p.type = row.type;
        p.name = row.packetName;
        for (int i = 0; i < row.copies; ++i) p.body.set(row.key, row.value);
        EXPECT_FALSE(encodeViciPacket(p)) << row.name;
    }
}

TEST(ViciMessage, DecodeRejectsMalformedInput) {
    const std::vector<std::string> bad = {
        std::string(),                                   // nothing
        std::string("\x08", 1),                          // unknown packet type
        std::string("\x00", 1),                          // request without a name
        std::string("\x00\x05" "ab", 4),                    // truncated name
        std::string("\x01\x03\x01k\x00\x02v", 7),        // truncated value
        std::string("\x01\x01\x01s", 4),                 // section never closed
        std::string("\x01\x02", 2),                      // section end at top level
        std::string("\x01\x05\x00\x01v", 5),             // list item outside a list
        std::string("\x01\x04\x01l\x05\x00\x01v", 8),    // list never closed
        std::string("\x01\x04\x01l\x03\x01k\x00\x00\x06", 10),  // key-value inside a list
        std::string("\x01\x09", 2),                      // unknown element
        std::string("\x02\x00", 2),                      // trailing bytes after a bodiless type
        std::string("\x01\x03\x00\x00\x00", 5),          // empty key
    };
    for (const auto& b : bad) EXPECT_FALSE(decodeViciPacket(b)) << testing::PrintToString(b);

    std::string deep("\x01", 1);
    for (int i = 0; i <= kViciMaxDepth; ++i) deep += std::string("\x01\x01s", 3);
    for (int i = 0; i <= kViciMaxDepth; ++i) deep += '\x02';
    EXPECT_FALSE(decodeViciPacket(deep));
}

TEST(ViciMessage, FrameReaderReassemblesByteByByte) {
    ViciPacket a;
    a.type = ViciPacketType::Event;
    a.name = "log";
    a.body.set("msg", "hello");
    const std::string stream = *encodeViciPacket(a) + std::string("\0\0\0\1\x05", 5);
    ViciFrameReader reader;
    std::vector<std::string> got;
    for (char c : stream) {
        ASSERT_TRUE(reader.feed(std::string_view(&c, 1)));
        while (auto p = reader.next()) got.push_back(*p);
    }
    EXPECT_EQ(got, (std::vector<std::string>{payloadOf(a), "\x05"}));
}

TEST(ViciMessage, FrameReaderRefusesImpossibleLengths) {
    ViciFrameReader zero;
    EXPECT_FALSE(zero.feed(std::string("\0\0\0\0", 4)));
    ViciFrameReader huge;
    EXPECT_FALSE(huge.feed(std::string("\x7f\xff\xff\xff", 4)));
    EXPECT_FALSE(huge.next());
    EXPECT_FALSE(huge.feed("more"));
}

}  // namespace
}  // namespace hw::ike
