// C_CreateObject, C_GenerateKeyPair.
// Not built yet: each answers CKR_FUNCTION_NOT_SUPPORTED once initialised.
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_CreateObject(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR) {
    return initialised("C_CreateObject", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR, CK_OBJECT_HANDLE_PTR) {
    return initialised("C_GenerateKeyPair", [] { return CKR_FUNCTION_NOT_SUPPORTED; });
}
