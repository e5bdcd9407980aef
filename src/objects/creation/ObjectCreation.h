// C_CreateObject's work: read the template once and hand over by class.
#pragma once

#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

// Certificates (the default class) and RSA private keys; every other class
// is refused.
CK_RV createObject(SessionRef session, const CK_ATTRIBUTE* attributes, CK_ULONG count,
                   CK_OBJECT_HANDLE* phObject);

}  // namespace zelmor
