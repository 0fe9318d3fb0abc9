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

// RFC 1321, FIPS 180 examples and the common "quick brown fox" vectors.
const Vector kVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6",
     "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12",
     "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "8215ef0796a20bcaaae116d3876c664a",
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
};

TEST(Hashing, PublishedVectorsAsHexTextAndAsRawBytes) {
    for (const auto& v : kVectors) {
        EXPECT_EQ(MD5(v.input), v.md5) << v.input;
        EXPECT_EQ(SHA1(v.input), v.sha1) << v.input;
        EXPECT_EQ(SHA256(v.input), v.sha256) << v.input;
        const Bytes data(v.input.begin(), v.input.end());
        EXPECT_EQ(MD5(data).size(), 16u);
        EXPECT_EQ(toHexString(MD5(data)), v.md5);
        EXPECT_EQ(toHexString(SHA1(data)), v.sha1);
        EXPECT_EQ(toHexString(SHA256(data)), v.sha256);
    }
    EXPECT_EQ(SHA256(std::string(1'000'000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(toHexString(Bytes{0x00, 0xff, 0x0a, 0xa0, 0x7f}), "00ff0aa07f");
    EXPECT_EQ(toHexString(Bytes{}), "");
}

TEST(Hashing, TextIsDigestedOverItsUtf8Bytes) {
    EXPECT_EQ(UTF8Length("\u00e9"), 2u);
    EXPECT_EQ(MD5("\u00e9"), "66ddcd97cfdeabb2f6fb8a999b4bc76f");
    EXPECT_NE(MD5("\u00e9"), "3406877694691ddd1dfb0aca54681407");  // the Latin-1 byte
    EXPECT_EQ(SHA256("Gr\u00fc\u00dfe, \u4e16\u754c"),
              "49837434716aa6f6917104cbba82bd5b8e82a970ddc5bfef7bcc45e3d6ea60b6");
    EXPECT_EQ(UTF8Length("Gr\u00fc\u00dfe, \u4e16\u754c"), 15u);
    // Embedded NULs are data, not terminators.
    EXPECT_NE(MD5(std::string("a\0b", 3)), MD5("a"));
}

}  // namespace
}  // namespace hw
