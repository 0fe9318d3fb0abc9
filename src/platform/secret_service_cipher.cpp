#include "platform/secret_service_cipher.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <array>

#include "platform/libcrypto.h"

namespace hw {
namespace {

constexpr int kPrimeBytes = 128;
constexpr std::size_t kKeyBytes = 16;
constexpr std::size_t kBlockBytes = 16;

struct Crypto {
    decltype(&BN_new) bnNew = nullptr;
    decltype(&BN_clear_free) bnClearFree = nullptr;
    decltype(&BN_bin2bn) bin2bn = nullptr;
    decltype(&BN_bn2binpad) bn2binpad = nullptr;
    decltype(&BN_num_bits) numBits = nullptr;
    decltype(&BN_set_word) setWord = nullptr;
    decltype(&BN_sub_word) subWord = nullptr;
    decltype(&BN_add_word) addWord = nullptr;
    decltype(&BN_cmp) cmp = nullptr;
    decltype(&BN_is_one) isOne = nullptr;
    decltype(&BN_is_zero) isZero = nullptr;
    decltype(&BN_mod_exp) modExp = nullptr;
    decltype(&BN_priv_rand_range) randRange = nullptr;
    decltype(&BN_CTX_new) ctxNew = nullptr;
    decltype(&BN_CTX_free) ctxFree = nullptr;
    decltype(&BN_get_rfc2409_prime_1024) prime1024 = nullptr;
    decltype(&HMAC) hmac = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&EVP_aes_128_cbc) aes128cbc = nullptr;
    decltype(&EVP_CIPHER_CTX_new) cipherNew = nullptr;
    decltype(&EVP_CIPHER_CTX_free) cipherFree = nullptr;
    decltype(&EVP_CipherInit_ex) cipherInit = nullptr;
    decltype(&EVP_CipherUpdate) cipherUpdate = nullptr;
    decltype(&EVP_CipherFinal_ex) cipherFinal = nullptr;
    decltype(&RAND_bytes) randBytes = nullptr;
    decltype(&OPENSSL_cleanse) cleanse = nullptr;
};

const Crypto* crypto(std::string* why = nullptr) {
    static std::string failure;
    static const Crypto* loaded = []() -> const Crypto* {
        SharedLibrary library = openLibcrypto();
        static Crypto c;
        library.bind(c.bnNew, "BN_new");
        library.bind(c.bnClearFree, "BN_clear_free");
        library.bind(c.bin2bn, "BN_bin2bn");
        library.bind(c.bn2binpad, "BN_bn2binpad");
        library.bind(c.numBits, "BN_num_bits");
        library.bind(c.setWord, "BN_set_word");
        library.bind(c.subWord, "BN_sub_word");
        library.bind(c.addWord, "BN_add_word");
        library.bind(c.cmp, "BN_cmp");
        library.bind(c.isOne, "BN_is_one");
        library.bind(c.isZero, "BN_is_zero");
        library.bind(c.modExp, "BN_mod_exp");
        library.bind(c.randRange, "BN_priv_rand_range");
        library.bind(c.ctxNew, "BN_CTX_new");
        library.bind(c.ctxFree, "BN_CTX_free");
        library.bind(c.prime1024, "BN_get_rfc2409_prime_1024");
        library.bind(c.hmac, "HMAC");
        library.bind(c.sha256, "EVP_sha256");
        library.bind(c.aes128cbc, "EVP_aes_128_cbc");
        library.bind(c.cipherNew, "EVP_CIPHER_CTX_new");
        library.bind(c.cipherFree, "EVP_CIPHER_CTX_free");
        library.bind(c.cipherInit, "EVP_CipherInit_ex");
        library.bind(c.cipherUpdate, "EVP_CipherUpdate");
        library.bind(c.cipherFinal, "EVP_CipherFinal_ex");
        library.bind(c.randBytes, "RAND_bytes");
        library.bind(c.cleanse, "OPENSSL_cleanse");
        if (library.ok()) return &c;
        failure = library.failure();
        return nullptr;
    }();
    if (!loaded && why) *why = failure;
    return loaded;
}

struct BigNumber {
    const Crypto& c;
    BIGNUM* n;
    explicit BigNumber(const Crypto& crypto, BIGNUM* number = nullptr) : c(crypto), n(number ? number : c.bnNew()) {}
    ~BigNumber() { c.bnClearFree(n); }
    BigNumber(const BigNumber&) = delete;
    BigNumber& operator=(const BigNumber&) = delete;
};

struct NumberContext {
    const Crypto& c;
    BN_CTX* ctx;
    explicit NumberContext(const Crypto& crypto) : c(crypto), ctx(c.ctxNew()) {}
    ~NumberContext() { c.ctxFree(ctx); }
    NumberContext(const NumberContext&) = delete;
    NumberContext& operator=(const NumberContext&) = delete;
};

void wipe(const Crypto& c, Bytes& bytes) {
    if (!bytes.empty()) c.cleanse(bytes.data(), bytes.size());
    bytes.clear();
}

bool hmacSha256(const Crypto& c, const Bytes& key, const Bytes& data, Bytes& out) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> md{};
    unsigned int length = 0;
    if (!c.hmac(c.sha256(), key.data(), static_cast<int>(key.size()), data.data(), data.size(), md.data(), &length))
        return false;
    out.assign(md.begin(), md.begin() + length);
    c.cleanse(md.data(), md.size());
    return true;
}

Bytes hkdf(const Crypto& c, const Bytes& input, std::size_t length) {
    // RFC 5869: an empty salt stands for a hash-length of zeros.
    Bytes prk, block, message, out;
    if (!hmacSha256(c, Bytes(32, 0), input, prk)) return {};
    for (std::uint8_t counter = 1; out.size() < length && counter != 0; ++counter) {
        message = block;
        message.push_back(counter);
        if (!hmacSha256(c, prk, message, block)) {
            wipe(c, out);
            break;
        }
        out.insert(out.end(), block.begin(), block.end());
    }
    if (out.size() > length) {
        c.cleanse(out.data() + length, out.size() - length);
        out.resize(length);
    }
    wipe(c, prk);
    wipe(c, block);
    wipe(c, message);
    return out;
}

std::optional<Bytes> runCipher(const Crypto& c, const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt) {
    EVP_CIPHER_CTX* ctx = c.cipherNew();
    if (!ctx) return std::nullopt;
    Bytes out(in.size() + kBlockBytes);
    int written = 0, last = 0;
    const bool ok = c.cipherInit(ctx, c.aes128cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0) == 1 &&
                    c.cipherUpdate(ctx, out.data(), &written, in.data(), static_cast<int>(in.size())) == 1 &&
                    c.cipherFinal(ctx, out.data() + written, &last) == 1;
    c.cipherFree(ctx);
    if (!ok) {
        wipe(c, out);
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(written + last));
    return out;
}

}  // namespace

Bytes secretServiceHkdf(const Bytes& input, std::size_t length) {
    const Crypto* c = crypto();
    return c ? hkdf(*c, input, length) : Bytes{};
}

std::unique_ptr<SecretServiceCipher> SecretServiceCipher::create(std::string* why) {
    const Crypto* c = crypto(why);
    if (!c) return nullptr;
    std::unique_ptr<SecretServiceCipher> cipher(new SecretServiceCipher);
    BigNumber prime(*c, c->prime1024(nullptr)), range(*c, c->prime1024(nullptr)), generator(*c), publicKey(*c);
    BIGNUM* x = c->bnNew();
    NumberContext ctx(*c);
    // An exponent of 2..p-2, as the service draws its own.
    const bool ok = prime.n && range.n && generator.n && publicKey.n && x && ctx.ctx && c->subWord(range.n, 3) &&
                    c->randRange(x, range.n) && c->addWord(x, 2) && c->setWord(generator.n, 2) &&
                    c->modExp(publicKey.n, generator.n, x, prime.n, ctx.ctx) == 1;
    if (!ok) {
        c->bnClearFree(x);
        if (why) *why = "cannot make a key pair";
        return nullptr;
    }
    cipher->private_ = x;
    cipher->public_.resize(static_cast<std::size_t>((c->numBits(publicKey.n) + 7) / 8));
    c->bn2binpad(publicKey.n, cipher->public_.data(), static_cast<int>(cipher->public_.size()));
    return cipher;
}

SecretServiceCipher::~SecretServiceCipher() {
    const Crypto* c = crypto();
    if (!c) return;
    if (private_) c->bnClearFree(static_cast<BIGNUM*>(private_));
    wipe(*c, key_);
}

bool SecretServiceCipher::agree(const Bytes& peerPublicKey) {
    const Crypto* c = crypto();
    if (!c || peerPublicKey.empty() || peerPublicKey.size() > 2 * kPrimeBytes) return false;
    BigNumber prime(*c, c->prime1024(nullptr)), limit(*c, c->prime1024(nullptr)), shared(*c);
    BigNumber peer(*c, c->bin2bn(peerPublicKey.data(), static_cast<int>(peerPublicKey.size()), nullptr));
    NumberContext ctx(*c);
    if (!prime.n || !limit.n || !shared.n || !peer.n || !ctx.ctx || !c->subWord(limit.n, 1)) return false;
    if (c->isZero(peer.n) || c->isOne(peer.n) || c->cmp(peer.n, limit.n) >= 0) return false;
    if (c->modExp(shared.n, peer.n, static_cast<BIGNUM*>(private_), prime.n, ctx.ctx) != 1) return false;
    // The secret at the prime's full width, leading zeros kept, as the service takes it.
    Bytes secret(kPrimeBytes);
    if (c->bn2binpad(shared.n, secret.data(), kPrimeBytes) != kPrimeBytes) return false;
    Bytes key = hkdf(*c, secret, kKeyBytes);
    wipe(*c, secret);
    if (key.size() != kKeyBytes) return false;
    wipe(*c, key_);
    key_ = std::move(key);
    return true;
}

std::optional<SecretServiceCipher::Sealed> SecretServiceCipher::seal(const Bytes& plain) const {
    const Crypto* c = crypto();
    if (!c || key_.size() != kKeyBytes) return std::nullopt;
    Sealed sealed{Bytes(kBlockBytes), {}};
    if (c->randBytes(sealed.iv.data(), static_cast<int>(sealed.iv.size())) != 1) return std::nullopt;
    auto data = runCipher(*c, key_, sealed.iv, plain, true);
    if (!data) return std::nullopt;
    sealed.data = std::move(*data);
    return sealed;
}

std::optional<Bytes> SecretServiceCipher::open(const Bytes& iv, const Bytes& data) const {
    const Crypto* c = crypto();
    if (!c || key_.size() != kKeyBytes || iv.size() != kBlockBytes || data.empty() || data.size() % kBlockBytes)
        return std::nullopt;
    return runCipher(*c, key_, iv, data, false);
}

}  // namespace hw
