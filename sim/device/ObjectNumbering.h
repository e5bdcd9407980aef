// Numbers and identifiers of new key pairs and certificates.
#pragma once

#include "../crypto/PinHash.h"
#include "../store/Bytes.h"

#include <cstdint>
#include <vector>

namespace zelmor::sim {

// The lowest number no entry uses.
template <typename Entry>
uint32_t lowestFreeNumber(const std::vector<Entry>& entries) {
    for (uint32_t candidate = 0;; ++candidate) {
        bool used = false;
        for (const auto& entry : entries) used = used || entry.number == candidate;
        if (!used) return candidate;
    }
}

// 16 random bytes no entry uses.
template <typename Entry>
Identifier newIdentifier(const std::vector<Entry>& entries) {
    for (;;) {
        const Bytes random = randomBytes(Identifier{}.size());
        const Identifier candidate = identifierFrom(random.data());
        bool used = false;
        for (const auto& entry : entries) used = used || entry.identifier == candidate;
        if (!used) return candidate;
    }
}

}  // namespace zelmor::sim
