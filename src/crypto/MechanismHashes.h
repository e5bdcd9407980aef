// Which hash, if any, each accepted mechanism computes on the device library.
#pragma once

#include <cstdint>

#include "pkcs11.h"

namespace zelmor {

// Hash algorithm identifier meaning "the data passes unchanged".
constexpr int32_t rawInput = 0;

// Signing and verification mechanisms. False for a mechanism that is not
// offered; otherwise *hashAlgorithm is a zelmor_initHash identifier or rawInput.
bool signingHashAlgorithm(CK_MECHANISM_TYPE mechanism, int32_t* hashAlgorithm);

// Digest mechanisms. False for a mechanism that is not offered.
bool digestHashAlgorithm(CK_MECHANISM_TYPE mechanism, int32_t* hashAlgorithm);

}  // namespace zelmor
