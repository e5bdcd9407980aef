// Prepared signing or verification contexts of one key, kept for reuse.
// Preparing a context looks up the algorithm's implementation, which costs
// about as much as a P-256 signature itself; a context is used by one thread
// at a time.
#pragma once

#include "OpenSslHandles.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <vector>

namespace zelmor::sim {

class PreparedContexts {
public:
    // How the input is signed: RSA with the DigestInfo of one hash, or the input as it is.
    enum Variant { asIs, sha1, sha256, sha384, sha512, variantCount };

    class Lease {
    public:
        Lease(PreparedContexts* owner, Variant variant, EvpPkeyCtxPtr ctx)
            : owner_(owner), variant_(variant), ctx_(std::move(ctx)) {}
        Lease(Lease&&) = default;
        ~Lease() {
            if (owner_ != nullptr && ctx_ && reusable_) owner_->giveBack(variant_, std::move(ctx_));
        }
        EVP_PKEY_CTX* get() const { return ctx_.get(); }
        // After a failed operation the context is dropped rather than reused.
        void discard() { reusable_ = false; }

    private:
        PreparedContexts* owner_;
        Variant variant_;
        EvpPkeyCtxPtr ctx_;
        bool reusable_ = true;
    };

    enum class Operation { sign, verify };

    PreparedContexts(EVP_PKEY* key, bool isRsa, Operation operation)
        : key_(key), isRsa_(isRsa), operation_(operation) {}

    // A prepared context; get() is null when preparing failed.
    Lease acquire(Variant variant);

private:
    static constexpr std::size_t maxIdlePerVariant = 8;

    EvpPkeyCtxPtr prepare(Variant variant) const;
    void giveBack(Variant variant, EvpPkeyCtxPtr ctx);

    EVP_PKEY* key_;
    bool isRsa_;
    Operation operation_;
    std::mutex mutex_;
    std::array<std::vector<EvpPkeyCtxPtr>, variantCount> idle_;
};

}  // namespace zelmor::sim
