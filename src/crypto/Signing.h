// Signing with a key pair of the session's device: single-part and
// multi-part, the hash computed by the device library for the hashing
// mechanisms, the finished signature kept in the session until fetched.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

CK_RV signInit(SessionRef handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE hKey);
CK_RV sign(SessionRef handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
           CK_ULONG_PTR signatureLength);
CK_RV signUpdate(SessionRef handle, CK_BYTE_PTR part, CK_ULONG partLength);
CK_RV signFinal(SessionRef handle, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength);

}  // namespace zelmor
