// Single-part RSA decryption on the device with the session's key pair and
// the user password; the plaintext is kept in the session until fetched.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

CK_RV decrypt(SessionRef handle, CK_BYTE_PTR encrypted, CK_ULONG encryptedLength, CK_BYTE_PTR data,
              CK_ULONG_PTR dataLength);

}  // namespace zelmor
