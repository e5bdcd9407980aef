// Key-pair generation on the device.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

// Checks the session and arguments, builds the request from the templates and
// has the device generate the pair; both handles are written on success only.
CK_RV generateKeyPair(SessionRef session, const CK_MECHANISM* mechanism, const CK_ATTRIBUTE* publicTemplate,
                      CK_ULONG publicCount, const CK_ATTRIBUTE* privateTemplate, CK_ULONG privateCount,
                      CK_OBJECT_HANDLE* phPublicKey, CK_OBJECT_HANDLE* phPrivateKey);

}  // namespace zelmor
