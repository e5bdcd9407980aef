#include "PrivateKey.h"

#include "KeyKind.h"

#include <cstring>
#include <openssl/core_names.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

namespace zelmor::sim {

namespace {

std::optional<uint32_t> ecKindOf(EVP_PKEY* key) {
    char groupName[64] = {};
    if (EVP_PKEY_get_group_name(key, groupName, sizeof groupName, nullptr) != 1) return std::nullopt;
    int nid = OBJ_sn2nid(groupName);
    if (nid == NID_undef) nid = EC_curve_nist2nid(groupName);
    for (uint32_t kind = 5; kind <= 7; ++kind)
        if (nid == EC_curve_nist2nid(describeKeyKind(kind)->curveName)) return kind;
    return std::nullopt;
}

std::optional<Bytes> rsaModulus(EVP_PKEY* key) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &raw) != 1) return std::nullopt;
    BignumPtr modulus(raw);
    Bytes value(static_cast<std::size_t>(BN_num_bytes(modulus.get())));
    BN_bn2bin(modulus.get(), value.data());
    return value;
}

std::optional<Bytes> ecPoint(EVP_PKEY* key, std::size_t fieldBytes) {
    Bytes value(1 + 2 * fieldBytes);
    std::size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, value.data(), value.size(),
                                        &length) != 1 ||
        length != value.size() || value[0] != 0x04)
        return std::nullopt;
    return value;
}

}  // namespace

PrivateKey::PrivateKey(EvpPkeyPtr key, uint32_t kind, Bytes publicValue)
    : key_(std::move(key)),
      kind_(kind),
      publicValue_(std::move(publicValue)),
      signingContexts_(key_.get(), EVP_PKEY_is_a(key_.get(), "RSA") == 1, PreparedContexts::Operation::sign) {}

std::shared_ptr<const PrivateKey> PrivateKey::generate(uint32_t kind) {
    const auto info = describeKeyKind(kind);
    if (!info) return nullptr;
    EvpPkeyPtr key(info->isRsa ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(info->rsaBits))
                               : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", info->curveName));
    if (!key) return nullptr;
    return fromKey(std::move(key));
}

std::shared_ptr<const PrivateKey> PrivateKey::fromPkcs8(const Bytes& der, uint32_t expectedKind) {
    const unsigned char* cursor = der.data();
    Pkcs8Ptr info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &cursor, static_cast<long>(der.size())));
    if (!info || cursor != der.data() + der.size()) return nullptr;
    auto key = fromKey(EvpPkeyPtr(EVP_PKCS82PKEY(info.get())));
    if (!key || key->kind() != expectedKind) return nullptr;
    return key;
}

std::shared_ptr<const PrivateKey> PrivateKey::fromKey(EvpPkeyPtr key) {
    if (!key) return nullptr;
    if (EVP_PKEY_is_a(key.get(), "RSA")) {
        const auto kind = rsaKindForBits(EVP_PKEY_get_bits(key.get()));
        auto modulus = rsaModulus(key.get());
        if (!kind || !modulus) return nullptr;
        return std::shared_ptr<const PrivateKey>(new PrivateKey(std::move(key), *kind, std::move(*modulus)));
    }
    if (EVP_PKEY_is_a(key.get(), "EC")) {
        const auto kind = ecKindOf(key.get());
        if (!kind) return nullptr;
        EVP_PKEY_set_utf8_string_param(key.get(), OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, "uncompressed");
        auto point = ecPoint(key.get(), describeKeyKind(*kind)->fieldBytes);
        if (!point) return nullptr;
        return std::shared_ptr<const PrivateKey>(new PrivateKey(std::move(key), *kind, std::move(*point)));
    }
    return nullptr;
}

Bytes PrivateKey::toPkcs8() const {
    Pkcs8Ptr info(EVP_PKEY2PKCS8(key_.get()));
    if (!info) return {};
    unsigned char* raw = nullptr;
    const int length = i2d_PKCS8_PRIV_KEY_INFO(info.get(), &raw);
    if (length <= 0) return {};
    OpenSslMemory<unsigned char> owned(raw);
    Bytes der(raw, raw + length);
    return der;
}

}  // namespace zelmor::sim
