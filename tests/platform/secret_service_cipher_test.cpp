#include "platform/secret_service_cipher.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using hw::Bytes;
using hw::SecretServiceCipher;

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// The group's prime, RFC 2409 section 6.2.
const Bytes kPrime = fromHex(
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A08798E3404DD"
    "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
    "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381FFFFFFFFFFFFFFFF");

struct Pair {
    std::unique_ptr<SecretServiceCipher> ours, theirs;
};

Pair agreedPair() {
    Pair p{SecretServiceCipher::create(), SecretServiceCipher::create()};
    EXPECT_TRUE(p.ours && p.theirs);
    EXPECT_TRUE(p.ours->agree(p.theirs->publicKey()));
    EXPECT_TRUE(p.theirs->agree(p.ours->publicKey()));
    return p;
}

// RFC 5869, test case 3: no salt, no info.
TEST(SecretServiceCipher, DerivesKeysByHkdfSha256WithoutSaltOrInfo) {
    EXPECT_EQ(hw::secretServiceHkdf(Bytes(22, 0x0b), 42),
              fromHex("8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"));
}

TEST(SecretServiceCipher, BothSidesOfTheAgreementOpenWhatTheOtherSealed) {
    Pair p = agreedPair();
    ASSERT_TRUE(p.ours && p.theirs);
    EXPECT_LE(p.ours->publicKey().size(), kPrime.size());
    const Bytes rows[] = {{}, Bytes(15, 'a'), Bytes(16, 'b'), Bytes(17, 'c'), {0x00, 0xff, 0x00, 0x80}};
    for (const Bytes& plain : rows) {
        auto sealed = p.ours->seal(plain);
        ASSERT_TRUE(sealed);
        EXPECT_EQ(sealed->iv.size(), 16u);
        EXPECT_EQ(sealed->data.size(), (plain.size() / 16 + 1) * 16) << "PKCS#7 always pads";
        EXPECT_EQ(p.theirs->open(sealed->iv, sealed->data), plain) << plain.size() << " bytes";
    }
    EXPECT_NE(p.ours->seal(Bytes{1})->iv, p.ours->seal(Bytes{1})->iv) << "each secret has its own IV";
}

TEST(SecretServiceCipher, RefusesPublicKeysOutsideTheGroup) {
    Bytes pMinus1 = kPrime;
    pMinus1.back() -= 1;
    Bytes tooLong(257, 0x01);
    Bytes beyond = kPrime;
    beyond.insert(beyond.begin(), 0x01);
    const struct {
        const char* name;
        Bytes key;
    } rows[] = {{"empty", {}},       {"zero", {0x00}},        {"one", {0x00, 0x01}}, {"p-1", pMinus1},
                {"p", kPrime},       {"beyond p", beyond},    {"too long", tooLong}};
    for (const auto& row : rows) {
        auto cipher = SecretServiceCipher::create();
        ASSERT_TRUE(cipher);
        EXPECT_FALSE(cipher->agree(row.key)) << row.name;
        EXPECT_FALSE(cipher->seal(Bytes{1})) << row.name << ": no key, nothing sealed";
    }
}

TEST(SecretServiceCipher, OpensNothingWithAWrongIvLengthOrPadding) {
    Pair p = agreedPair();
    ASSERT_TRUE(p.ours && p.theirs);
    auto sealed = p.ours->seal({});
    ASSERT_TRUE(sealed);
    Bytes badPadding = sealed->iv;
    badPadding.back() ^= 0x01;  // the pad byte 0x10 becomes 0x11
    const struct {
        const char* name;
        Bytes iv, data;
    } rows[] = {{"short IV", Bytes(8, 0), sealed->data},
                {"empty data", sealed->iv, {}},
                {"partial block", sealed->iv, Bytes(sealed->data.begin(), sealed->data.end() - 1)},
                {"bad padding", badPadding, sealed->data}};
    for (const auto& row : rows) EXPECT_FALSE(p.theirs->open(row.iv, row.data)) << row.name;
}

}  // namespace
