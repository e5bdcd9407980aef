// C_EncryptInit, C_Encrypt, C_DecryptInit, C_Decrypt.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_EncryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return initialised("C_EncryptInit", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_Encrypt(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return initialised("C_Encrypt", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_DecryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return initialised("C_DecryptInit", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_Decrypt(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return initialised("C_Decrypt", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
