#include "PinHash.h"

#include "OpenSslHandles.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <stdexcept>

namespace zelmor::sim {

namespace {

struct TagKey {
    std::array<uint8_t, 32> secret{};
    EvpMdPtr sha256;
    TagKey() : sha256(EVP_MD_fetch(nullptr, "SHA256", nullptr)) {
        if (!sha256 || RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1)
            throw std::runtime_error("cannot prepare PIN tag key");
    }
    ~TagKey() { OPENSSL_cleanse(secret.data(), secret.size()); }
};

const TagKey& tagKey() {
    static const TagKey key;
    return key;
}

}  // namespace

Bytes derivePinHash(std::string_view pin, const Bytes& salt, uint32_t iterations) {
    Bytes hash(32);
    if (PKCS5_PBKDF2_HMAC(pin.data(), static_cast<int>(pin.size()), salt.data(), static_cast<int>(salt.size()),
                          static_cast<int>(iterations), EVP_sha256(), static_cast<int>(hash.size()),
                          hash.data()) != 1)
        throw std::runtime_error("PIN hashing failed");
    return hash;
}

Bytes randomBytes(std::size_t count) {
    Bytes bytes(count);
    if (count != 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1)
        throw std::runtime_error("random generator failed");
    return bytes;
}

PinTag pinTag(std::string_view pin) {
    const TagKey& key = tagKey();
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    PinTag tag{};
    unsigned int length = 0;
    if (!ctx || EVP_DigestInit_ex(ctx.get(), key.sha256.get(), nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), key.secret.data(), key.secret.size()) != 1 ||
        EVP_DigestUpdate(ctx.get(), pin.data(), pin.size()) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), tag.data(), &length) != 1 || length != tag.size())
        throw std::runtime_error("PIN tag failed");
    return tag;
}

bool constantTimeEqual(const uint8_t* a, const uint8_t* b, std::size_t size) {
    return CRYPTO_memcmp(a, b, size) == 0;
}

}  // namespace zelmor::sim
