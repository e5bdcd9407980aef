// Signatures in the device's formats.
//
// RSA: an input of 20, 32, 48 or 64 bytes is a bare SHA-1, SHA-256, SHA-384
// or SHA-512 hash and is wrapped in its DigestInfo before PKCS#1 v1.5 padding;
// any other input is padded as it is. EC: ECDSA over the input, returned as
// r || s, each padded to the curve's byte length.
#pragma once

#include "../store/Bytes.h"
#include "PrivateKey.h"
#include "PublicKeyCache.h"

#include <optional>

namespace zelmor::sim {

std::optional<Bytes> signInput(const PrivateKey& key, const uint8_t* input, std::size_t size);

// True when the signature is valid for the input under the public key.
bool verifyInput(const VerificationKey& key, const uint8_t* input, std::size_t size, const uint8_t* signature,
                 std::size_t signatureSize);

}  // namespace zelmor::sim
