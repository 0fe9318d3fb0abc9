#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/settings_store.h"

namespace hw {

// The Secret Service's encrypted transfer: a Diffie-Hellman agreement in the
// 1024-bit MODP group of RFC 2409 (generator 2), an AES-128 key drawn from the
// shared secret by HKDF-SHA256 without salt or info, and each secret sent
// AES-CBC with PKCS#7 padding under its own IV. Keys are wiped when it goes.
class SecretServiceCipher {
public:
    static constexpr const char* kAlgorithm = "dh-ietf1024-sha256-aes128-cbc-pkcs7";

    // A fresh key pair, or null with the reason (libcrypto is missing).
    static std::unique_ptr<SecretServiceCipher> create(std::string* why = nullptr);
    ~SecretServiceCipher();
    SecretServiceCipher(const SecretServiceCipher&) = delete;
    SecretServiceCipher& operator=(const SecretServiceCipher&) = delete;

    const Bytes& publicKey() const { return public_; }
    // Takes the service's public key; false when it is no element of the
    // group an honest peer could send (0, 1, p-1, p or beyond).
    bool agree(const Bytes& peerPublicKey);

    struct Sealed {
        Bytes iv;
        Bytes data;
    };
    // Both need agree() first; open() refuses a wrong IV, length or padding.
    std::optional<Sealed> seal(const Bytes& plain) const;
    std::optional<Bytes> open(const Bytes& iv, const Bytes& data) const;

private:
    SecretServiceCipher() = default;

    void* private_ = nullptr;  // BIGNUM
    Bytes public_;
    Bytes key_;
};

// HKDF-SHA256 with empty salt and info; empty when libcrypto is missing.
Bytes secretServiceHkdf(const Bytes& input, std::size_t length);

}  // namespace hw
