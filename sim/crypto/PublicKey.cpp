#include "PublicKey.h"

#include "KeyKind.h"

#include <openssl/core_names.h>
#include <openssl/x509.h>

namespace zelmor::sim {

namespace {

EvpPkeyPtr keyFromParams(const char* algorithm, OSSL_PARAM_BLD* build) {
    ParamsPtr params(OSSL_PARAM_BLD_to_param(build));
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, algorithm, nullptr));
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) return nullptr;
    return EvpPkeyPtr(key);
}

EvpPkeyPtr rsaPublicKey(const uint8_t* modulusBytes, std::size_t size) {
    BignumPtr modulus(BN_bin2bn(modulusBytes, static_cast<int>(size), nullptr));
    BignumPtr exponent(BN_new());
    ParamBuildPtr build(OSSL_PARAM_BLD_new());
    if (!modulus || BN_is_zero(modulus.get()) || !exponent || !BN_set_word(exponent.get(), RSA_F4) || !build ||
        OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, modulus.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, exponent.get()) != 1)
        return nullptr;
    return keyFromParams("RSA", build.get());
}

EvpPkeyPtr ecPublicKey(const KeyKindInfo& info, const uint8_t* point, std::size_t size) {
    if (size != 1 + 2 * info.fieldBytes || point[0] != 0x04) return nullptr;
    ParamBuildPtr build(OSSL_PARAM_BLD_new());
    if (!build || OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, info.curveName, 0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point, size) != 1)
        return nullptr;
    return keyFromParams("EC", build.get());
}

}  // namespace

EvpPkeyPtr publicKeyFromValue(uint32_t kind, const uint8_t* value, std::size_t size) {
    if (value == nullptr || size == 0 || size > 1024) return nullptr;
    const auto info = describeKeyKind(kind);
    if (info && !info->isRsa) return ecPublicKey(*info, value, size);
    return rsaPublicKey(value, size);
}

EvpPkeyPtr publicKeyFromSpki(const uint8_t* der, std::size_t size) {
    if (der == nullptr || size == 0 || size > 64 * 1024) return nullptr;
    const unsigned char* cursor = der;
    EvpPkeyPtr key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(size)));
    if (!key || cursor != der + size) return nullptr;
    return key;
}

}  // namespace zelmor::sim
