// C_DigestInit, C_Digest, C_DigestUpdate, C_DigestFinal.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_DigestInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR) {
    return initialised("C_DigestInit", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_Digest(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return initialised("C_Digest", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_DigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
    return initialised("C_DigestUpdate", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_DigestFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
    return initialised("C_DigestFinal", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
