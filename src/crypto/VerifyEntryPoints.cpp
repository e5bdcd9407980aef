// C_VerifyInit, C_Verify, C_VerifyUpdate, C_VerifyFinal.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_VerifyInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return initialised("C_VerifyInit", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_Verify(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG) {
    return initialised("C_Verify", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
    return initialised("C_VerifyUpdate", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_VerifyFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
    return initialised("C_VerifyFinal", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
