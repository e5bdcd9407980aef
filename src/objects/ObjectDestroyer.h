// The work of C_DestroyObject: a key pair is deleted through its private-key
// handle, a certificate through its handle.
#pragma once

#include "pkcs11.h"

namespace zelmor {

// Takes the raw session handle: an unknown session is logged here.
CK_RV destroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle);

}  // namespace zelmor
