#include "RsaKeyRebuild.h"

#include <openssl/core_names.h>

namespace zelmor::sim {

namespace {

constexpr int maxPublicExponentBits = 256;

BignumPtr toBignum(const Bytes& bytes) {
    if (bytes.empty() || bytes.size() > 1024) return nullptr;
    return BignumPtr(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

BignumPtr newBignum() { return BignumPtr(BN_secure_new()); }

struct RsaComponents {
    BignumPtr n, e, d, p, q, dmp1, dmq1, iqmp;
};

EvpPkeyPtr keyFromComponents(const RsaComponents& c) {
    ParamBuildPtr build(OSSL_PARAM_BLD_new());
    if (!build) return nullptr;
    const std::pair<const char*, const BIGNUM*> fields[] = {
        {OSSL_PKEY_PARAM_RSA_N, c.n.get()},           {OSSL_PKEY_PARAM_RSA_E, c.e.get()},
        {OSSL_PKEY_PARAM_RSA_D, c.d.get()},           {OSSL_PKEY_PARAM_RSA_FACTOR1, c.p.get()},
        {OSSL_PKEY_PARAM_RSA_FACTOR2, c.q.get()},     {OSSL_PKEY_PARAM_RSA_EXPONENT1, c.dmp1.get()},
        {OSSL_PKEY_PARAM_RSA_EXPONENT2, c.dmq1.get()}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, c.iqmp.get()},
    };
    for (const auto& [name, value] : fields)
        if (OSSL_PARAM_BLD_push_BN(build.get(), name, value) != 1) return nullptr;
    ParamsPtr params(OSSL_PARAM_BLD_to_param(build.get()));
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_KEYPAIR, params.get()) != 1)
        return nullptr;
    return EvpPkeyPtr(key);
}

bool passesKeyChecks(EVP_PKEY* key) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    return ctx && EVP_PKEY_check(ctx.get()) == 1;
}

}  // namespace

EvpPkeyPtr rebuildRsaKey(const Bytes& modulus, const Bytes& privateExponent, const Bytes& prime1,
                         const Bytes& publicExponent) {
    BnCtxPtr bn(BN_CTX_secure_new());
    RsaComponents c;
    c.n = toBignum(modulus);
    c.d = toBignum(privateExponent);
    c.p = toBignum(prime1);
    c.q = newBignum();
    c.e = newBignum();
    c.dmp1 = newBignum();
    c.dmq1 = newBignum();
    c.iqmp = newBignum();
    BignumPtr remainder = newBignum(), pMinus1 = newBignum(), qMinus1 = newBignum(), gcd = newBignum(),
              lambda = newBignum(), check = newBignum();
    if (!bn || !c.n || !c.d || !c.p || !c.q || !c.e || !c.dmp1 || !c.dmq1 || !c.iqmp || !remainder || !pMinus1 ||
        !qMinus1 || !gcd || !lambda || !check)
        return nullptr;

    // q = n / p, exactly, with both factors above 1.
    if (BN_is_zero(c.p.get()) || BN_is_one(c.p.get()) || BN_cmp(c.p.get(), c.n.get()) >= 0 ||
        BN_div(c.q.get(), remainder.get(), c.n.get(), c.p.get(), bn.get()) != 1 || !BN_is_zero(remainder.get()) ||
        BN_is_one(c.q.get()))
        return nullptr;

    // lambda = lcm(p - 1, q - 1)
    if (!BN_sub(pMinus1.get(), c.p.get(), BN_value_one()) || !BN_sub(qMinus1.get(), c.q.get(), BN_value_one()) ||
        !BN_gcd(gcd.get(), pMinus1.get(), qMinus1.get(), bn.get()) ||
        !BN_mul(check.get(), pMinus1.get(), qMinus1.get(), bn.get()) ||
        !BN_div(lambda.get(), nullptr, check.get(), gcd.get(), bn.get()))
        return nullptr;

    if (!publicExponent.empty()) {
        BignumPtr given = toBignum(publicExponent);
        if (!given || !BN_copy(c.e.get(), given.get())) return nullptr;
    } else if (BN_mod_inverse(c.e.get(), c.d.get(), lambda.get(), bn.get()) == nullptr) {
        return nullptr;
    }
    // e * d = 1 (mod lambda), with an ordinary public exponent.
    if (!BN_mod_mul(check.get(), c.e.get(), c.d.get(), lambda.get(), bn.get()) || !BN_is_one(check.get()) ||
        !BN_is_odd(c.e.get()) || BN_is_one(c.e.get()) || BN_num_bits(c.e.get()) > maxPublicExponentBits)
        return nullptr;

    if (!BN_mod(c.dmp1.get(), c.d.get(), pMinus1.get(), bn.get()) ||
        !BN_mod(c.dmq1.get(), c.d.get(), qMinus1.get(), bn.get()) ||
        BN_mod_inverse(c.iqmp.get(), c.q.get(), c.p.get(), bn.get()) == nullptr)
        return nullptr;

    EvpPkeyPtr key = keyFromComponents(c);
    if (!key || !passesKeyChecks(key.get())) return nullptr;
    return key;
}

}  // namespace zelmor::sim
