// Recently used public keys with their prepared verification contexts, so
// that repeated verifications with one key neither rebuild the key nor look
// up its algorithm again. Thread-safe; holds a few entries at most.
#pragma once

#include "../store/Bytes.h"
#include "OpenSslHandles.h"
#include "PreparedContexts.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace zelmor::sim {

struct VerificationKey {
    VerificationKey(EvpPkeyPtr publicKey, uint32_t keyKind, bool isRsa)
        : key(std::move(publicKey)),
          kind(keyKind),
          contexts(key.get(), isRsa, PreparedContexts::Operation::verify) {}

    EvpPkeyPtr key;
    uint32_t kind;
    mutable PreparedContexts contexts;
};

class PublicKeyCache {
public:
    // The key of a kind and public value as publicKeyFromValue (PublicKey.h)
    // builds it; null for an invalid value.
    std::shared_ptr<const VerificationKey> get(uint32_t kind, const uint8_t* value, std::size_t size);

private:
    struct Entry {
        Bytes value;
        std::shared_ptr<const VerificationKey> key;
    };
    static constexpr std::size_t capacity = 16;

    std::mutex mutex_;
    std::vector<Entry> entries_;  // most recently used last
};

}  // namespace zelmor::sim
