// libcrypto's view of the device's keys and signatures, for the end-to-end
// tests: a public key rebuilt from its value alone, and device signatures
// checked against it; and DER of libcrypto objects, which the virtual device
// library's tests use for certificates.
#pragma once

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace libcrypto {

using Bytes = std::vector<uint8_t>;
using Pkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

// DER of a libcrypto object through its i2d function.
template <typename T>
Bytes derOf(const T* object, int (*encode)(const T*, unsigned char**)) {
    unsigned char* der = nullptr;
    const int length = encode(object, &der);
    Bytes bytes(der, der + std::max(length, 0));
    OPENSSL_free(der);
    return bytes;
}

// Without a curve, the RSA key of this modulus (big-endian) and the exponent
// 65537; with one, the EC key of this point (04||X||Y) on the named curve.
inline Pkey publicKey(const char* curve, Bytes value) {
    if (curve == nullptr) std::reverse(value.begin(), value.end());  // the BN parameter is in native byte order
    std::string group = curve == nullptr ? "" : curve;
    uint32_t exponent = 65537;
    OSSL_PARAM params[] = {
        curve ? OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, &group[0], 0)
              : OSSL_PARAM_construct_BN(OSSL_PKEY_PARAM_RSA_N, value.data(), value.size()),
        curve ? OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, value.data(), value.size())
              : OSSL_PARAM_construct_uint32(OSSL_PKEY_PARAM_RSA_E, &exponent),
        OSSL_PARAM_construct_end()};
    PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, curve ? "EC" : "RSA", nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(context.get());
    EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params);
    return Pkey(key, EVP_PKEY_free);
}

// Whether libcrypto accepts a device signature of `data`: for RSA, PKCS#1
// v1.5 of the DigestInfo of the data's hash with the named digest, or of the
// data as it is without one; for EC, r||s of the curve's byte length each, of
// the hash or the data.
inline bool verifies(EVP_PKEY* key, const char* digest, Bytes data, const Bytes& signature) {
    if (digest != nullptr) {
        Bytes hash(EVP_MAX_MD_SIZE);
        std::size_t length = 0;
        EVP_Q_digest(nullptr, digest, nullptr, data.data(), data.size(), hash.data(), &length);
        data.assign(hash.begin(), hash.begin() + length);
    }
    Bytes der = signature;
    if (EVP_PKEY_is_a(key, "EC")) {
        const int half = static_cast<int>(signature.size() / 2);
        if (half == 0 || signature.size() != (EVP_PKEY_get_bits(key) + 7u) / 8 * 2) return false;
        std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> sig(ECDSA_SIG_new(), ECDSA_SIG_free);
        ECDSA_SIG_set0(sig.get(), BN_bin2bn(signature.data(), half, nullptr),
                       BN_bin2bn(&signature[half], half, nullptr));
        der = derOf<ECDSA_SIG>(sig.get(), i2d_ECDSA_SIG);
    }
    PkeyContext context(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    return EVP_PKEY_verify_init(context.get()) == 1 &&
           (digest == nullptr || EVP_PKEY_CTX_set_signature_md(context.get(), EVP_get_digestbyname(digest)) == 1) &&
           EVP_PKEY_verify(context.get(), der.data(), der.size(), data.data(), data.size()) == 1;
}

}  // namespace libcrypto
