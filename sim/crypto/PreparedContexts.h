// Prepared signing contexts of one key, kept for reuse. Preparing a context
// looks up the algorithm's implementation, which costs about as much as a
// P-256 signature itself; a context is used by one thread at a time.
#pragma once

#include "OpenSslHandles.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <vector>

namespace zelmor::sim {

class SigningContexts {
public:
    // How the input is signed: RSA with the DigestInfo of one hash, or the input as it is.
    enum Variant { asIs, sha1, sha256, sha384, sha512, variantCount };

    class Lease {
    public:
        Lease(SigningContexts* owner, Variant variant, EvpPkeyCtxPtr ctx)
            : owner_(owner), variant_(variant), ctx_(std::move(ctx)) {}
        Lease(Lease&&) = default;
        ~Lease() {
            if (owner_ != nullptr && ctx_ && reusable_) owner_->giveBack(variant_, std::move(ctx_));
        }
        EVP_PKEY_CTX* get() const { return ctx_.get(); }
        // After a failed operation the context is dropped rather than reused.
        void discard() { reusable_ = false; }

    private:
        SigningContexts* owner_;
        Variant variant_;
        EvpPkeyCtxPtr ctx_;
        bool reusable_ = true;
    };

    explicit SigningContexts(EVP_PKEY* key, bool isRsa) : key_(key), isRsa_(isRsa) {}

    // A prepared context; get() is null when preparing failed.
    Lease acquire(Variant variant);

private:
    static constexpr std::size_t maxIdlePerVariant = 8;

    EvpPkeyCtxPtr prepare(Variant variant) const;
    void giveBack(Variant variant, EvpPkeyCtxPtr ctx);

    EVP_PKEY* key_;
    bool isRsa_;
    std::mutex mutex_;
    std::array<std::vector<EvpPkeyCtxPtr>, variantCount> idle_;
};

}  // namespace zelmor::sim
