// A key pair held by a device: the parsed private key, its kind and public value.
// Immutable once built, so one instance serves any number of threads.
#pragma once

#include "../store/Bytes.h"
#include "OpenSslHandles.h"
#include "PreparedContexts.h"

#include <cstdint>
#include <memory>

namespace zelmor::sim {

class PrivateKey {
public:
    // A new key of a kind from 1 to 7; null on failure.
    static std::shared_ptr<const PrivateKey> generate(uint32_t kind);
    // A stored PKCS#8 key; null unless it parses and is of the expected kind.
    static std::shared_ptr<const PrivateKey> fromPkcs8(const Bytes& der, uint32_t expectedKind);
    // Takes an RSA or EC key; null when it is of no kind the device holds.
    static std::shared_ptr<const PrivateKey> fromKey(EvpPkeyPtr key);

    uint32_t kind() const { return kind_; }
    // RSA: modulus, big-endian, no leading zero byte. EC: 04 || X || Y.
    const Bytes& publicValue() const { return publicValue_; }
    EVP_PKEY* key() const { return key_.get(); }
    // Empty on failure.
    Bytes toPkcs8() const;
    PreparedContexts& signingContexts() const { return signingContexts_; }

private:
    PrivateKey(EvpPkeyPtr key, uint32_t kind, Bytes publicValue);

    EvpPkeyPtr key_;
    uint32_t kind_;
    Bytes publicValue_;
    mutable PreparedContexts signingContexts_;
};

}  // namespace zelmor::sim
