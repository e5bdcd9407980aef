// C_SignInit, C_Sign, C_SignUpdate, C_SignFinal.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_SignInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return initialised("C_SignInit", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_Sign(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return initialised("C_Sign", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
    return initialised("C_SignUpdate", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_SignFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
    return initialised("C_SignFinal", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
