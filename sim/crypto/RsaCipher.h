// RSA encryption and decryption with PKCS#1 v1.5 padding.
#pragma once

#include "../store/Bytes.h"
#include "PrivateKey.h"

#include <optional>

namespace zelmor::sim {

// Under an RSA public key; nullopt for a non-RSA key or data too long for it.
std::optional<Bytes> rsaEncrypt(EVP_PKEY* publicKey, const uint8_t* data, std::size_t size);

// With an RSA private key; nullopt for a non-RSA key or a ciphertext that does not decrypt.
std::optional<Bytes> rsaDecrypt(const PrivateKey& key, const uint8_t* data, std::size_t size);

}  // namespace zelmor::sim
