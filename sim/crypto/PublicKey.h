#pragma once

#include "OpenSslHandles.h"

#include <cstddef>
#include <cstdint>

namespace zelmor::sim {

// Public key from a key kind and a public value as the device reports them
// (RSA modulus with exponent 65537, or an uncompressed EC point). A kind
// outside 1 to 7 is read as RSA. Null when the value is not a valid key.
EvpPkeyPtr publicKeyFromValue(uint32_t kind, const uint8_t* value, std::size_t size);

// Public key from a DER SubjectPublicKeyInfo that must span all given bytes; null otherwise.
EvpPkeyPtr publicKeyFromSpki(const uint8_t* der, std::size_t size);

}  // namespace zelmor::sim
