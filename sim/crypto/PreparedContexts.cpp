#include "PreparedContexts.h"

#include <openssl/rsa.h>

namespace zelmor::sim {

namespace {
const EVP_MD* hashOf(PreparedContexts::Variant variant) {
    switch (variant) {
    case PreparedContexts::sha1: return EVP_sha1();
    case PreparedContexts::sha256: return EVP_sha256();
    case PreparedContexts::sha384: return EVP_sha384();
    case PreparedContexts::sha512: return EVP_sha512();
    default: return nullptr;
    }
}
}  // namespace

PreparedContexts::Lease PreparedContexts::acquire(Variant variant) {
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

EvpPkeyCtxPtr PreparedContexts::prepare(Variant variant) const {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key_, nullptr));
    const int initialised =
        ctx ? (operation_ == Operation::sign ? EVP_PKEY_sign_init(ctx.get()) : EVP_PKEY_verify_init(ctx.get())) : 0;
    if (initialised != 1) return nullptr;
    if (isRsa_) {
        const EVP_MD* hash = hashOf(variant);
        if (EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
            (hash != nullptr && EVP_PKEY_CTX_set_signature_md(ctx.get(), hash) != 1))
            return nullptr;
    }
    return ctx;
}

void PreparedContexts::giveBack(Variant variant, EvpPkeyCtxPtr ctx) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (idle_[variant].size() < maxIdlePerVariant) idle_[variant].push_back(std::move(ctx));
}

}  // namespace zelmor::sim
