#pragma once

#include "../store/Bytes.h"
#include "OpenSslHandles.h"

namespace zelmor::sim {

// Rebuilds a complete RSA private key from its modulus, private exponent and
// first prime (big-endian). The public exponent is taken from publicExponent
// when it is not empty, otherwise derived from the private exponent. Null when
// the components do not form one consistent key: the prime does not divide
// the modulus, the exponents are not inverse, or the key fails its checks.
EvpPkeyPtr rebuildRsaKey(const Bytes& modulus, const Bytes& privateExponent, const Bytes& prime1,
                         const Bytes& publicExponent);

}  // namespace zelmor::sim
