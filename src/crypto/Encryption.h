// Single-part RSA encryption (PKCS#1 v1.5) under a public key that the module
// encodes from the key pair's modulus; the device is not named.
#pragma once

#include <cstdint>

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

// EncryptionType of zelmor_encrypt by key kind: 7 to 10 for RSA 1024 to
// 4096, 8 for any other kind.
EncryptionType encryptionTypeFor(uint32_t keyKind);

CK_RV encrypt(SessionRef handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR encrypted,
              CK_ULONG_PTR encryptedLength);

}  // namespace zelmor
