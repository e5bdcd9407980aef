// Verification of a signature against data with the public value of a key
// pair of the session's device. Mirrors signing: the same mechanisms, the
// same hashing, the same multi-part buffering; no password, no cached output.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

CK_RV verifyInit(SessionRef handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE hKey);
CK_RV verify(SessionRef handle, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR signature,
             CK_ULONG signatureLength);
CK_RV verifyUpdate(SessionRef handle, CK_BYTE_PTR part, CK_ULONG partLength);
CK_RV verifyFinal(SessionRef handle, CK_BYTE_PTR signature, CK_ULONG signatureLength);

}  // namespace zelmor
