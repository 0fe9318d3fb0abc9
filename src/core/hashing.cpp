#include "core/hashing.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <stdexcept>

namespace hw {
namespace {

enum class Algorithm { MD5, SHA1, SHA256 };

Bytes digest(Algorithm algorithm, const void* data, std::size_t size) {
    const EVP_MD* md = algorithm == Algorithm::MD5 ? EVP_md5() : algorithm == Algorithm::SHA1 ? EVP_sha1() : EVP_sha256();
    std::array<unsigned char, EVP_MAX_MD_SIZE> out{};
    unsigned int length = 0;
    if (EVP_Digest(data, size, out.data(), &length, md, nullptr) != 1) {
        // Only a broken libcrypto gets here; an empty digest would pass for a value.
        throw std::runtime_error("digest failed");
    }
    Bytes result(out.begin(), out.begin() + length);
    OPENSSL_cleanse(out.data(), out.size());
    return result;
}

std::string hexDigest(Algorithm algorithm, std::string_view text) {
    Bytes raw = digest(algorithm, text.data(), text.size());
    std::string hex = toHexString(raw);
    OPENSSL_cleanse(raw.data(), raw.size());
    return hex;
}

}  // namespace

Bytes MD5(std::span<const std::uint8_t> data) { return digest(Algorithm::MD5, data.data(), data.size()); }
Bytes SHA1(std::span<const std::uint8_t> data) { return digest(Algorithm::SHA1, data.data(), data.size()); }
Bytes SHA256(std::span<const std::uint8_t> data) { return digest(Algorithm::SHA256, data.data(), data.size()); }
std::string MD5(std::string_view utf8) { return hexDigest(Algorithm::MD5, utf8); }
std::string SHA1(std::string_view utf8) { return hexDigest(Algorithm::SHA1, utf8); }
std::string SHA256(std::string_view utf8) { return hexDigest(Algorithm::SHA256, utf8); }

std::string toHexString(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0x0f]);
    }
    return text;
}

}  // namespace hw
