// Recently used public keys, so that repeated verifications with one key do
// not rebuild it every time. Thread-safe; holds a few entries at most.
#pragma once

#include "../store/Bytes.h"
#include "OpenSslHandles.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace zelmor::sim {

class PublicKeyCache {
public:
    // As publicKeyFromValue (PublicKey.h); null for an invalid value.
    std::shared_ptr<EVP_PKEY> get(uint32_t kind, const uint8_t* value, std::size_t size);

private:
    struct Entry {
        uint32_t kind;
        Bytes value;
        std::shared_ptr<EVP_PKEY> key;
    };
    static constexpr std::size_t capacity = 16;

    std::mutex mutex_;
    std::vector<Entry> entries_;  // most recently used last
};

}  // namespace zelmor::sim
