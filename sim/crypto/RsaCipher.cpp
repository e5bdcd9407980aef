#include "RsaCipher.h"

#include <openssl/crypto.h>
#include <openssl/rsa.h>

namespace zelmor::sim {

std::optional<Bytes> rsaEncrypt(EVP_PKEY* publicKey, const uint8_t* data, std::size_t size) {
    if (publicKey == nullptr || !EVP_PKEY_is_a(publicKey, "RSA") || (data == nullptr && size != 0)) return std::nullopt;
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, publicKey, nullptr));
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return std::nullopt;
    std::size_t length = 0;
    if (EVP_PKEY_encrypt(ctx.get(), nullptr, &length, data, size) != 1) return std::nullopt;
    Bytes ciphertext(length);
    if (EVP_PKEY_encrypt(ctx.get(), ciphertext.data(), &length, data, size) != 1) return std::nullopt;
    ciphertext.resize(length);
    return ciphertext;
}

std::optional<Bytes> rsaDecrypt(const PrivateKey& key, const uint8_t* data, std::size_t size) {
    if (!EVP_PKEY_is_a(key.key(), "RSA") || data == nullptr || size == 0) return std::nullopt;
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.key(), nullptr));
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return std::nullopt;
    std::size_t length = 0;
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &length, data, size) != 1) return std::nullopt;
    Bytes plaintext(length);
    if (EVP_PKEY_decrypt(ctx.get(), plaintext.data(), &length, data, size) != 1) {
        OPENSSL_cleanse(plaintext.data(), plaintext.size());
        return std::nullopt;
    }
    plaintext.resize(length);
    return plaintext;
}

}  // namespace zelmor::sim
