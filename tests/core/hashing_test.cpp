#include <gtest/gtest.h>

#include <string>

#include "core/hashing.h"

namespace hw {
namespace {

struct Vector {
    std::string input;
    const char* md5;
    const char* sha1;
    const char* sha256;
};

// RFC 1321 and FIPS 180 examples.
const Vector kVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
};

TEST(Hashing, PublishedVectorsAsHexTextAndAsRawBytes) {
    for (const auto& v : kVectors) {
        EXPECT_EQ(MD5(v.input), v.md5) << v.input;
        EXPECT_EQ(SHA1(v.input), v.sha1) << v.input;
        EXPECT_EQ(SHA256(v.input), v.sha256) << v.input;
        const Bytes data(v.input.begin(), v.input.end());
        EXPECT_EQ(toHexString(MD5(data)), v.md5);
        EXPECT_EQ(toHexString(SHA1(data)), v.sha1);
        EXPECT_EQ(toHexString(SHA256(data)), v.sha256);
    }
    EXPECT_EQ(toHexString(Bytes{0x00, 0xff, 0x0a, 0xa0, 0x7f}), "00ff0aa07f");
}

TEST(Hashing, TextIsDigestedOverItsUtf8BytesNulsIncluded) {
    EXPECT_EQ(MD5("\u00e9"), "66ddcd97cfdeabb2f6fb8a999b4bc76f");
    EXPECT_EQ(UTF8Length("Gr\u00fc\u00dfe, \u4e16\u754c"), 15u);
    EXPECT_NE(MD5(std::string("a\0b", 3)), MD5("a"));
}

}  // namespace
}  // namespace hw
