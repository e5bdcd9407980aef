#include "SigningContexts.h"

#include <openssl/rsa.h>

namespace zelmor::sim {

namespace {
const EVP_MD* hashOf(SigningContexts::Variant variant) {
    switch (variant) {
    case SigningContexts::sha1: return EVP_sha1();
    case SigningContexts::sha256: return EVP_sha256();
    case SigningContexts::sha384: return EVP_sha384();
    case SigningContexts::sha512: return EVP_sha512();
    default: return nullptr;
    }
}
}  // namespace

SigningContexts::Lease SigningContexts::acquire(Variant variant) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto& idle = idle_[variant];
        if (!idle.empty()) {
            EvpPkeyCtxPtr ctx = std::move(idle.back());
            idle.pop_back();
            return Lease(this, variant, std::move(ctx));
        }
    }
    return Lease(this, variant, prepare(variant));
}

EvpPkeyCtxPtr SigningContexts::prepare(Variant variant) const {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key_, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1) return nullptr;
    if (isRsa_) {
        const EVP_MD* hash = hashOf(variant);
        if (EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
            (hash != nullptr && EVP_PKEY_CTX_set_signature_md(ctx.get(), hash) != 1))
            return nullptr;
    }
    return ctx;
}

void SigningContexts::giveBack(Variant variant, EvpPkeyCtxPtr ctx) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (idle_[variant].size() < maxIdlePerVariant) idle_[variant].push_back(std::move(ctx));
}

}  // namespace zelmor::sim
