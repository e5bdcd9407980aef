// C_EncryptInit and C_DecryptInit: CKM_RSA_PKCS without parameters, a key
// pair copied into the session.
#pragma once

#include "crypto/OperationSupport.h"
#include "pkcs11.h"
#include "sessions/SessionRecord.h"

namespace zelmor {

enum class CipherDirection { Encrypt, Decrypt };

CK_RV cipherInit(SessionRef handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE hKey, CipherDirection direction);

}  // namespace zelmor
